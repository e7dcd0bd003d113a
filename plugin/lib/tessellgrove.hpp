#pragma once
// The Tessellgrove plug-in instance: one per host instance, owning the engine,
// the parameter set and the two transport cells that remember what the last
// audio block saw of the host's transport, and wired to the editor page and
// the preset library: the shared web-view state, the sending end of the
// preset worker's command queue and the worker thread itself.
//
// Threading: the adapters serialise every call on this object. `process` runs
// on the host's audio thread; `initialize`, `reset` and `deactivate` on
// whichever thread the host activates from; `editor` on the main thread.
// `host_tempo` and `host_playing` are written only by `process` and may be
// read from any thread. The preset worker shares only the web-view state and
// its end of the command queue.

#include "plugin/dsp/processor.hpp"
#include "plugin/params/tessellgrove_params.hpp"
#include "plugin/presets/preset_command_queue.hpp"
#include "plugin_kit/plugin/plugin.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace webview {
class WebViewState;
}

namespace tessellgrove {

// Starts the preset worker thread on `receiver` and `state`; throws
// std::system_error when the system refuses the thread.
using PresetWorkerSpawner = std::thread (*)(PresetCommandReceiver receiver,
                                            std::shared_ptr<webview::WebViewState> state);

// First words of the error a refused preset worker thread makes
// construction fail with; the system's reason follows after ": ".
inline constexpr std::string_view preset_worker_spawn_error = "failed to spawn preset worker thread";

class Tessellgrove final : public plugin_kit::Plugin {
public:
    // In this order: the web-view state (900 x 600), the preset command
    // queue, the preset worker thread, the default parameter set, the
    // transport cells (120 BPM, stopped) and an engine prepared for 44100 Hz.
    // Throws std::runtime_error starting with preset_worker_spawn_error when
    // the worker thread is refused (the adapters then fail the creation).
    Tessellgrove();
    // As above, with the worker thread started by `spawn_worker`.
    explicit Tessellgrove(PresetWorkerSpawner spawn_worker);
    // Closes the worker's queue, waits until the worker has answered every
    // command still queued and ended, then releases the fields.
    ~Tessellgrove() override;
    Tessellgrove(const Tessellgrove&) = delete;
    Tessellgrove& operator=(const Tessellgrove&) = delete;

    // Another reference to the parameter set, for the adapter and the editor.
    std::shared_ptr<plugin_kit::Params> params() const override;
    // The web-view editor on this instance's state and parameters, with a
    // fresh copy of the page text. Main thread; asked once by the adapters.
    std::unique_ptr<plugin_kit::Editor> editor() override;
    // Follows the host sample rate; layout and buffer sizes are ignored. Never fails.
    bool initialize(const plugin_kit::AudioIOLayout& layout,
                    const plugin_kit::BufferConfig& config) override;
    // Clears the engine's running state, with flush-to-zero on.
    void reset() override;
    // Nothing to release: the engine keeps its buffers until destruction.
    void deactivate() override;
    // The audio callback: transport, parameters, the frames in place, then at
    // most one page message.
    plugin_kit::ProcessStatus process(plugin_kit::AudioBuffer& buffer,
                                      const plugin_kit::Transport& transport) override;

    // Copies every parameter and the clamped host tempo into the engine.
    // Audio thread, once per block; allocates only when `swarm_count` changed.
    void update_processor_params() noexcept;

    // Read-only views for the adapters, the editor wiring and tests.
    const std::shared_ptr<TessellgroveParams>& tessellgrove_params() const noexcept { return params_; }
    const std::shared_ptr<webview::WebViewState>& web_view_state() const noexcept { return web_view_state_; }
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

    // Join handle of the preset worker. If it still holds a running thread
    // when destroyed (an instance whose construction failed after the worker
    // started), it detaches `sender` and waits for the worker, so no thread
    // outlives the instance and nothing terminates the host.
    struct PresetThread {
        std::optional<std::thread> thread;
        PresetCommandSender* sender = nullptr;

        PresetThread(std::thread started, PresetCommandSender& tx) : thread(std::move(started)), sender(&tx) {}
        PresetThread(const PresetThread&) = delete;
        PresetThread& operator=(const PresetThread&) = delete;
        ~PresetThread();
    };

    Tessellgrove(PresetWorkerSpawner spawn_worker, std::shared_ptr<webview::WebViewState> state,
                 std::pair<PresetCommandSender, PresetCommandReceiver> queue);

    // Transport-push step: queues a transport statement for the page (one
    // allocation; dropped when the script queue is full).
    void push_transport(bool playing, float tempo) noexcept;
    // Page-message step: takes at most one message from the page and hands
    // it to the dispatcher. Runs after the frames of every block with at
    // least two channels.
    void handle_page_message() noexcept;

    // Construction runs in this order (the worker exists before the
    // parameters and the engine; it hears nothing until construction is done,
    // since only this instance sends). Teardown releases params_,
    // web_view_state_, host_tempo_ and host_playing_ first, then the rest.
    std::shared_ptr<webview::WebViewState> web_view_state_; // shared with the worker and the editor
    PresetCommandSender preset_tx_;                         // the queue's only sender; audio thread
    PresetThread preset_thread_;                            // the worker, "tessellgrove-presets"
    std::shared_ptr<TessellgroveParams> params_;      // shared with adapter and editor
    std::shared_ptr<std::atomic<float>> host_tempo_;  // BPM of the last block that reported one
    std::shared_ptr<std::atomic<bool>> host_playing_; // transport running in the last block
    TessellgroveProcessor processor_;                 // the sound engine, audio thread only
    float sample_rate_ = 44100.0f;                    // Hz, as last given to `initialize`

    uint64_t transport_push_count_ = 0; // audio thread only
};

} // namespace tessellgrove
