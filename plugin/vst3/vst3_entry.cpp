#include "plugin/vst3/vst3_entry.hpp"

#include "plugin/clap/identity.hpp"
#include "plugin/lib/tessellgrove.hpp"
#include "plugin_kit/log/log.hpp"

#include <memory>

namespace tessellgrove {
namespace {

std::unique_ptr<plugin_kit::Plugin> create_instance() { return std::make_unique<Tessellgrove>(); }

constexpr plugin_kit::vst3_abi::Uid class_id() noexcept {
    plugin_kit::vst3_abi::Uid uid{};
    for (size_t i = 0; i < uid.size(); ++i) {
        uid[i] = identity::vst3_class_id[i];
    }
    return uid;
}

const plugin_kit::Vst3Descriptor descriptor{
    .name = identity::name,
    .vendor = identity::vendor,
    .version = identity::version,
    .url = identity::url,
    .email = identity::email,
    .class_id = class_id(),
    .subcategories = identity::vst3_subcategories,
    .sdk_version = identity::vst3_sdk_version,
    .create_plugin = &create_instance,
};

} // namespace

const plugin_kit::Vst3Descriptor& vst3_descriptor() noexcept { return descriptor; }

} // namespace tessellgrove

extern "C" {

plugin_kit::vst3_abi::IPluginFactory3* GetPluginFactory() {
    // Every call makes a new factory; the host releases it. Null only when
    // out of memory.
    return plugin_kit::create_vst3_factory(tessellgrove::vst3_descriptor());
}

bool ModuleEntry(void* shared_library_handle) {
    (void)shared_library_handle; // the library needs nothing from its own handle
    plugin_kit::init_logger(tessellgrove::identity::logger_name);
    return true;
}

bool ModuleExit() { return true; }

} // extern "C"
