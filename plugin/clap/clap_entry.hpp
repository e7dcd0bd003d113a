#pragma once
// The CLAP entry point of the plug-in library: the exported `clap_entry`
// record and the plug-in factory behind it.
//
//   init(path)       sets up the process-wide logger (once), returns true
//   deinit()         nothing to release: the factory lives until unload
//   get_factory(id)  the plug-in factory for exactly "clap.plugin-factory"
//
// The factory offers one class, "com.corvalune.tessellgrove", whose
// instances are `Tessellgrove` objects driven by the framework's CLAP
// adapter.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/clap/clap_adapter.hpp"

namespace tessellgrove {

// The one plug-in factory of this library, built on first use (thread-safe).
plugin_kit::ClapPluginFactory& clap_plugin_factory() noexcept;

// What the CLAP adapter is given: the identity constants and the three features.
plugin_kit::ClapPluginInfo clap_plugin_info();

} // namespace tessellgrove

// The record CLAP hosts look up by name after loading the library.
extern "C" __attribute__((visibility("default"))) const plugin_kit::clap_abi::clap_plugin_entry clap_entry;
