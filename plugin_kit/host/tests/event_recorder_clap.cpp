// A CLAP library whose one plug-in shows the parameter events of each block
// in its audio: the block is zeroed, then each value event writes its value
// on the left channel and its arrival number (1, 2, ...) on the right, at the
// event's frame. A block whose events are out of time order is an error.
// Loaded by the host's tests to see what the host sends.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/abi/clap/extensions.hpp"
#include "plugin_kit/abi/clap/process.hpp"

#include <cstring>

namespace {

using namespace plugin_kit::clap_abi;

const char* const features[] = {"audio-effect", nullptr};
const clap_plugin_descriptor descriptor{CLAP_VERSION_1_2_2, "org.example.event-recorder", "Event Recorder",
                                        "Example", "", "", "", "1.0.0", "", features};

clap_process_status process(const clap_plugin*, const clap_process* p) {
    if (p == nullptr || p->audio_outputs_count < 1 || p->audio_outputs[0].channel_count < 2) {
        return CLAP_PROCESS_ERROR;
    }
    float* const* out = p->audio_outputs[0].data32;
    for (uint32_t c = 0; c < 2; ++c) {
        std::memset(out[c], 0, p->frames_count * sizeof(float));
    }
    const uint32_t count = p->in_events->size(p->in_events);
    uint32_t last_time = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const clap_event_header* e = p->in_events->get(p->in_events, i);
        if (e->time < last_time || e->time >= p->frames_count) {
            return CLAP_PROCESS_ERROR;
        }
        last_time = e->time;
        if (e->space_id == CLAP_CORE_EVENT_SPACE_ID && e->type == CLAP_EVENT_PARAM_VALUE) {
            out[0][e->time] = static_cast<float>(reinterpret_cast<const clap_event_param_value*>(e)->value);
            out[1][e->time] = static_cast<float>(i + 1);
        }
    }
    return CLAP_PROCESS_CONTINUE;
}

// Parameters: none listed; values are taken as they come.
const clap_plugin_params params{
    [](const clap_plugin*) -> uint32_t { return 0; },
    [](const clap_plugin*, uint32_t, clap_param_info*) { return false; },
    [](const clap_plugin*, clap_id, double*) { return false; },
    [](const clap_plugin*, clap_id, double, char*, uint32_t) { return false; },
    [](const clap_plugin*, clap_id, const char*, double*) { return false; },
    [](const clap_plugin*, const clap_input_events*, const clap_output_events*) {},
};

const void* get_extension(const clap_plugin*, const char* id) {
    return id != nullptr && std::strcmp(id, CLAP_EXT_PARAMS) == 0 ? &params : nullptr;
}

const clap_plugin* create(const clap_plugin_factory*, const clap_host*, const char* id) {
    if (id == nullptr || std::strcmp(id, descriptor.id) != 0) {
        return nullptr;
    }
    return new clap_plugin{&descriptor,
                           nullptr,
                           [](const clap_plugin*) { return true; },
                           [](const clap_plugin* p) { delete p; },
                           [](const clap_plugin*, double, uint32_t, uint32_t) { return true; },
                           [](const clap_plugin*) {},
                           [](const clap_plugin*) { return true; },
                           [](const clap_plugin*) {},
                           [](const clap_plugin*) {},
                           process,
                           get_extension,
                           [](const clap_plugin*) {}};
}

const clap_plugin_factory factory{
    [](const clap_plugin_factory*) -> uint32_t { return 1; },
    [](const clap_plugin_factory*, uint32_t index) { return index == 0 ? &descriptor : nullptr; },
    create,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const clap_plugin_entry clap_entry{
    CLAP_VERSION_1_2_2,
    [](const char*) { return true; },
    [] {},
    [](const char* id) -> const void* {
        return id != nullptr && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &factory : nullptr;
    },
};
