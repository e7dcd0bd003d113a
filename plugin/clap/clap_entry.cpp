#include "plugin/clap/clap_entry.hpp"

#include "plugin/clap/identity.hpp"
#include "plugin/lib/tessellgrove.hpp"
#include "plugin_kit/log/log.hpp"

#include <memory>

namespace tessellgrove {
namespace {

std::unique_ptr<plugin_kit::Plugin> create_instance() { return std::make_unique<Tessellgrove>(); }

// --- clap_plugin_entry ---
// Hosts may call these from any thread before and after instances exist;
// none of them throws.

bool entry_init(const char* plugin_path) {
    (void)plugin_path; // the library needs nothing from its own location
    plugin_kit::init_logger(identity::logger_name);
    return true;
}

void entry_deinit() {}

const void* entry_get_factory(const char* factory_id) {
    return clap_plugin_factory().get_factory(factory_id);
}

} // namespace

plugin_kit::ClapPluginInfo clap_plugin_info() {
    plugin_kit::ClapPluginInfo info;
    info.id = identity::clap_id;
    info.name = identity::name;
    info.vendor = identity::vendor;
    info.url = identity::url;
    info.version = identity::version;
    info.description = identity::clap_description;
    info.features.assign(identity::clap_features.begin(), identity::clap_features.end());
    return info;
}

plugin_kit::ClapPluginFactory& clap_plugin_factory() noexcept {
    // Static storage: hosts keep pointers into the factory and its
    // descriptor until they unload the library. Building it allocates only
    // the three feature views; running out of memory there ends the process
    // like any failed static initialisation would.
    static plugin_kit::ClapPluginFactory factory(clap_plugin_info(), &create_instance);
    return factory;
}

} // namespace tessellgrove

extern "C" const plugin_kit::clap_abi::clap_plugin_entry clap_entry = {
    plugin_kit::clap_abi::CLAP_VERSION_1_2_2,
    &tessellgrove::entry_init,
    &tessellgrove::entry_deinit,
    &tessellgrove::entry_get_factory,
};
