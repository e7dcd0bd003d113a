#pragma once
// The Tessellgrove plug-in instance: one per host instance, owning the engine,
// the parameter set and the two transport cells that remember what the last
// audio block saw of the host's transport.
//
// Threading: the adapters serialise every call on this object. `process` runs
// on the host's audio thread; `initialize`, `reset` and `deactivate` on
// whichever thread the host activates from. `host_tempo` and `host_playing`
// are written only by `process` and may be read from any thread.

#include "plugin/dsp/processor.hpp"
#include "plugin/params/tessellgrove_params.hpp"
#include "plugin_kit/plugin/plugin.hpp"

#include <atomic>
#include <cstdint>
#include <memory>

namespace tessellgrove {

class Tessellgrove final : public plugin_kit::Plugin {
public:
    // Builds the default parameter set, the transport cells (120 BPM, stopped)
    // and an engine prepared for 44100 Hz.
    Tessellgrove();
    ~Tessellgrove() override = default;
    Tessellgrove(const Tessellgrove&) = delete;
    Tessellgrove& operator=(const Tessellgrove&) = delete;

    // Another reference to the parameter set, for the adapter and the editor.
    std::shared_ptr<plugin_kit::Params> params() const override;
    // Follows the host sample rate; layout and buffer sizes are ignored. Never fails.
    bool initialize(const plugin_kit::AudioIOLayout& layout,
                    const plugin_kit::BufferConfig& config) override;
    // Clears the engine's running state, with flush-to-zero on.
    void reset() override;
    // Nothing to release: the engine keeps its buffers until destruction.
    void deactivate() override;
    // The audio callback: transport, parameters, then the frames in place.
    plugin_kit::ProcessStatus process(plugin_kit::AudioBuffer& buffer,
                                      const plugin_kit::Transport& transport) override;

    // Copies every parameter and the clamped host tempo into the engine.
    // Audio thread, once per block; allocates only when `swarm_count` changed.
    void update_processor_params() noexcept;

    // Read-only views for the adapters, the editor wiring and tests.
    const std::shared_ptr<TessellgroveParams>& tessellgrove_params() const noexcept { return params_; }
    const std::shared_ptr<std::atomic<float>>& host_tempo() const noexcept { return host_tempo_; }
    const std::shared_ptr<std::atomic<bool>>& host_playing() const noexcept { return host_playing_; }
    const TessellgroveProcessor& processor() const noexcept { return processor_; }
    float sample_rate() const noexcept { return sample_rate_; }
    // How many times the audio callback decided the page must hear of a new
    // tempo (a move of more than 0.01 BPM against the previous block).
    uint64_t transport_push_count() const noexcept { return transport_push_count_; }

private:
    // Tempo moves smaller than this (in BPM, compared in 32-bit float against
    // the previous block's tempo) are not worth telling the page about.
    static constexpr float transport_push_threshold = 0.01f;

    // Transport-push step: tells the page about the new transport. The editor
    // bridge is not wired in yet, so only the decision is recorded.
    void push_transport(bool playing, float tempo) noexcept;
    // Page-message step: takes at most one message from the page and handles
    // it. Runs after the frames of every block with at least two channels;
    // does nothing until the editor bridge is wired in.
    void handle_page_message() noexcept;

    // Fields in declaration order, which is also the release order.
    std::shared_ptr<TessellgroveParams> params_;      // shared with adapter and editor
    std::shared_ptr<std::atomic<float>> host_tempo_;  // BPM of the last block that reported one
    std::shared_ptr<std::atomic<bool>> host_playing_; // transport running in the last block
    TessellgroveProcessor processor_;                 // the sound engine, audio thread only
    float sample_rate_ = 44100.0f;                    // Hz, as last given to `initialize`

    uint64_t transport_push_count_ = 0; // audio thread only
};

} // namespace tessellgrove
