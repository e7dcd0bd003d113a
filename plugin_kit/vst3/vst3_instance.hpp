#pragma once
// One VST3 plug-in instance: a single component that is processor and
// controller at once, answering FUnknown, IPluginBase, IComponent,
// IAudioProcessor, IEditController, IMidiMapping, INoteExpressionController,
// IUnitInfo and IProcessContextRequirements. Used by the factory.

#include "plugin_kit/abi/vst3/base.hpp"
#include "plugin_kit/vst3/vst3.hpp"

namespace plugin_kit {

// A new instance with a reference count of 1, returned as its FUnknown (the
// IComponent face). Builds the plug-in and asks it once for its editor;
// throws when either fails.
vst3_abi::FUnknown* create_vst3_instance(const Vst3Descriptor& descriptor);

} // namespace plugin_kit
