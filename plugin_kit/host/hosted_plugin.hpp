#pragma once
// The in-repo plug-in host: loads a plug-in library from disk and drives one
// instance through its CLAP or VST3 binary interface, the way a host does.
// Used by tests (our own library and foreign ones) and by tessellgrove-render.
//
// `HostedPlugin` is the format-neutral face: parameters (list, values, texts
// both ways), activation, stereo processing with parameter changes and
// transport, and state save/load in the format's own framing. Values are in
// the format's own domain: plain values for CLAP, normalised 0..1 for VST3.
//
// Threads: everything runs on the calling thread, which plays the host's
// main and audio thread in turn (never both at once).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plugin_kit::host {

enum class PluginFormat { Clap, Vst3 };

// One parameter as the plug-in describes it.
struct HostParamInfo {
    uint32_t id = 0;            // the format's numeric parameter id
    std::string name;           // CLAP name / VST3 title
    std::string unit;           // VST3 units; empty for CLAP
    std::string module;         // CLAP module path; empty for VST3
    double min = 0.0;           // CLAP: plain range; VST3: 0..1
    double max = 1.0;
    double default_value = 0.0; // in the same domain
    uint32_t step_count = 0;    // 0: continuous (CLAP: max - min when stepped)
    bool automatable = false;
    bool read_only = false;     // output parameters (meters) and the like
    bool hidden = false;
    bool is_bypass = false;
};

// What the host transport reports for a block.
struct HostTransport {
    bool playing = false;
    std::optional<double> tempo; // BPM; absent: the host has no tempo
};

// How the host's byte streams behave: at most this many bytes per read or
// write call (0: as many as asked).
struct StreamPieces {
    uint64_t read = 0;
    uint64_t write = 0;
};

class HostedPlugin {
public:
    virtual ~HostedPlugin() = default;

    virtual PluginFormat format() const noexcept = 0;

    // --- parameters (main thread) ---
    virtual std::vector<HostParamInfo> params() const = 0;
    // Current value, in the format's domain; nullopt for an unknown id.
    virtual std::optional<double> param_value(uint32_t id) const = 0;
    // The plug-in's display text of `value`; nullopt when it has none.
    virtual std::optional<std::string> value_to_text(uint32_t id, double value) const = 0;
    // The plug-in's reading of typed text; nullopt when it refuses it.
    virtual std::optional<double> text_to_value(uint32_t id, std::string_view text) const = 0;
    // Sets a parameter the way a host's automation does: the change is
    // delivered to the processor with the next block (at its first frame) and,
    // while not processing, right away (CLAP params flush, VST3 controller).
    virtual bool set_param(uint32_t id, double value) = 0;
    // Sets a parameter at frame `offset` of the next block, the way sample-
    // accurate automation does; several changes of one block reach the
    // plug-in in time order. While not processing it is `set_param`.
    virtual bool set_param_at(uint32_t id, double value, uint32_t offset) = 0;

    // --- processing ---
    // Activates at `sample_rate` for blocks of at most `max_frames` and
    // starts processing. False when the plug-in refuses.
    virtual bool activate(double sample_rate, uint32_t max_frames) = 0;
    // One block: `inputs` and `outputs` hold two channels each and may be
    // the same buffers (in place). False when the plug-in reports an error.
    virtual bool process(std::span<float* const> inputs, std::span<float* const> outputs, uint32_t frames,
                         const HostTransport& transport) = 0;
    // Stops processing and deactivates; harmless when not active.
    virtual void deactivate() = 0;

    // --- state (main thread) ---
    // The bytes the plug-in saves, as the format stores them (CLAP: the
    // plug-in's own stream; VST3: the component state). nullopt on refusal.
    virtual std::optional<std::string> save_state(StreamPieces pieces = {}) = 0;
    // Hands `bytes` to the plug-in's state load; false when it refuses them.
    virtual bool load_state(std::string_view bytes, StreamPieces pieces = {}) = 0;
};

// A library and one instance created from it.
struct LoadResult {
    std::unique_ptr<HostedPlugin> plugin;
    std::string error; // why loading or creating failed; empty on success
};

// Loads the plug-in library at `path` as `format` and creates an instance of
// `plugin_id` (CLAP id, or 32 hex digits of a VST3 class id), or of the
// first plug-in class the library offers when `plugin_id` is empty.
LoadResult load_plugin(const std::string& path, PluginFormat format, std::string_view plugin_id = {});

// "clap" / "vst3".
std::string_view format_name(PluginFormat format) noexcept;

} // namespace plugin_kit::host
