// The plug-in library Tessellgrove.so. Its four exported entry points are
// defined by the CLAP and VST3 entry areas; this unit pins the types hosts
// call them through, so a changed signature breaks the build of the library
// instead of a host.

#include "plugin/clap/clap_entry.hpp"
#include "plugin/vst3/vst3_entry.hpp"

#include <type_traits>

static_assert(std::is_same_v<decltype(clap_entry), const plugin_kit::clap_abi::clap_plugin_entry>);
static_assert(std::is_same_v<decltype(&GetPluginFactory), plugin_kit::vst3_abi::IPluginFactory3* (*)()>);
static_assert(std::is_same_v<decltype(&ModuleEntry), bool (*)(void*)>);
static_assert(std::is_same_v<decltype(&ModuleExit), bool (*)()>);
