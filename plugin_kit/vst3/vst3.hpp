#pragma once
// The VST3 adapter: a plug-in factory that builds one single-component
// instance (processor and controller in one object) around a
// `plugin_kit::Plugin`.
//
// `GetPluginFactory` returns `create_vst3_factory(descriptor)`; everything a
// host sees of the plug-in's identity comes from the descriptor, so the
// adapter itself names no plug-in.
//
// Every function reachable from a host is a static trampoline that checks
// its arguments and the call order, answers misuse with the standard's
// result code, and never lets an exception out.

#include "plugin_kit/abi/vst3/base.hpp"
#include "plugin_kit/plugin/plugin.hpp"

#include <memory>
#include <string_view>

namespace plugin_kit {

// Identity and construction of the one class the factory offers. Must
// outlive every factory and instance made from it (a static constant).
struct Vst3Descriptor {
    std::string_view name;          // class name; cut to 63 bytes
    std::string_view vendor;        // factory and class vendor; cut to 63 bytes
    std::string_view version;       // class version; also the state's "version"
    std::string_view url;           // vendor web address; cut to 255 bytes
    std::string_view email;         // support e-mail; cut to 127 bytes
    vst3_abi::Uid class_id{};       // the 16 bytes hosts create the class by
    std::string_view subcategories; // "Fx|Distortion"; cut to 127 bytes
    std::string_view sdk_version;   // "VST 3.6.14"

    // A new plug-in instance; may throw (the factory reports the failure).
    // Its `Plugin::editor` is asked once right after construction; an
    // instance without an editor offers no view.
    std::unique_ptr<Plugin> (*create_plugin)() = nullptr;
};

// A new factory object with a reference count of 1 answering IPluginFactory,
// IPluginFactory2 and IPluginFactory3; nullptr when out of memory. The
// host releases it.
vst3_abi::IPluginFactory3* create_vst3_factory(const Vst3Descriptor& descriptor) noexcept;

} // namespace plugin_kit
