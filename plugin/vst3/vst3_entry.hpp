#pragma once
// The VST3 entry points of the plug-in library, as a Linux VST3 host looks
// them up after loading it:
//
//   ModuleEntry(handle)  sets up the process-wide logger (once), returns true
//   ModuleExit()         returns true
//   GetPluginFactory()   a new factory object (reference count 1) answering
//                        IPluginFactory, IPluginFactory2 and IPluginFactory3
//
// The factory offers one class, "CorTessellgrove" + 0, whose instances are
// `Tessellgrove` objects driven by the framework's VST3 adapter.

#include "plugin_kit/vst3/vst3.hpp"

namespace tessellgrove {

// The class record the factory is built from (static storage).
const plugin_kit::Vst3Descriptor& vst3_descriptor() noexcept;

} // namespace tessellgrove

extern "C" {
__attribute__((visibility("default"))) plugin_kit::vst3_abi::IPluginFactory3* GetPluginFactory();
__attribute__((visibility("default"))) bool ModuleEntry(void* shared_library_handle);
__attribute__((visibility("default"))) bool ModuleExit();
}
