#pragma once
// The format-neutral plug-in contract. The CLAP and VST3 adapters drive an
// implementation of `Plugin` through exactly these calls; nothing here knows
// about either format.
//
// Threading: the adapters serialise `initialize`, `reset`, `deactivate` and
// `process` (and state loads) so they never overlap. `process` runs on the
// host's audio thread and must not block, lock or allocate. `editor` and
// every call on the editor come from the host's main thread.

#include "plugin_kit/plugin/editor.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace plugin_kit {

class Params;

// Channel counts of the main input and output ports the host activated.
struct AudioIOLayout {
    uint32_t main_input_channels = 2;
    uint32_t main_output_channels = 2;
};

enum class ProcessMode { Realtime, Buffered, Offline };

// What the host told us at activation.
struct BufferConfig {
    float sample_rate = 44100.0f;
    uint32_t min_buffer_size = 1;
    uint32_t max_buffer_size = 4096;
    ProcessMode process_mode = ProcessMode::Realtime;
};

// The host transport as seen by one call of `process`.
struct Transport {
    bool playing = false;
    std::optional<double> tempo; // beats per minute, when the host reports one
};

// One in-place block (or piece of a block) of non-interleaved audio. The
// adapters slice host blocks at event times by offsetting the channel
// pointers, so `channels` points at adapter-owned storage for one call.
struct AudioBuffer {
    std::span<float* const> channels;
    uint32_t frame_count = 0;
};

enum class ProcessStatus { Normal, Tail, KeepAlive, Error };

class Plugin {
public:
    virtual ~Plugin() = default;

    // The parameter set shared with the adapter and the editor.
    virtual std::shared_ptr<Params> params() const = 0;
    // The plug-in's editor. The adapters ask once, right after construction
    // (and after `params`), and own the result until the instance goes; they
    // then open it, size it and tell it about parameter changes from the
    // host's main thread. nullptr: the plug-in has no editor. May throw
    // (the adapter then fails the instance's creation).
    virtual std::unique_ptr<Editor> editor() { return nullptr; }

    // Activation. Must never fail for a plug-in that accepts any rate.
    virtual bool initialize(const AudioIOLayout& layout, const BufferConfig& config) = 0;
    // Clears running state; called when processing starts and on host reset.
    virtual void reset() = 0;
    virtual void deactivate() = 0;
    // The audio callback, in place, once per piece of a host block.
    virtual ProcessStatus process(AudioBuffer& buffer, const Transport& transport) = 0;
};

} // namespace plugin_kit
