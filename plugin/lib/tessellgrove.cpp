#include "plugin/lib/tessellgrove.hpp"

#include "plugin/dispatch/webview_dispatch.hpp"
#include "plugin/dsp/mapping.hpp"
#include "plugin/presets/preset_worker.hpp"
#include "plugin_kit/log/log.hpp"
#include "plugin_kit/plugin/denormals.hpp"
#include "ui/editor_texts.hpp"
#include "webview/editor/web_view_editor.hpp"
#include "webview/state/web_view_state.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tessellgrove {
namespace {

// Logical size of the editor page, in pixels.
constexpr uint32_t editor_width = 900;
constexpr uint32_t editor_height = 600;

bool is_usable_tempo(double bpm) noexcept {
    return std::isfinite(bpm) && std::fabs(bpm) <= static_cast<double>(std::numeric_limits<float>::max());
}

// Starts the worker; a refusal becomes the instance's fatal construction
// error. It is also written to the log, because the adapters turn the
// exception into a plain creation failure that the host shows without text.
std::thread start_worker(PresetWorkerSpawner spawn, PresetCommandReceiver receiver,
                         std::shared_ptr<webview::WebViewState> state) {
    try {
        return spawn(std::move(receiver), std::move(state));
    } catch (const std::system_error& e) {
        const std::string message = std::string(preset_worker_spawn_error) + ": " + e.code().message();
        try {
            plugin_kit::logger().error("{}", message);
        } catch (...) {
        }
        throw std::runtime_error(message);
    }
}

} // namespace

Tessellgrove::PresetThread::~PresetThread() {
    if (thread && thread->joinable()) {
        sender->reset();
        thread->join();
    }
}

Tessellgrove::Tessellgrove() : Tessellgrove(&spawn_preset_worker) {}

Tessellgrove::Tessellgrove(PresetWorkerSpawner spawn_worker)
    : Tessellgrove(spawn_worker, webview::WebViewState::from_size(editor_width, editor_height),
                   make_preset_command_queue()) {}

Tessellgrove::Tessellgrove(PresetWorkerSpawner spawn_worker, std::shared_ptr<webview::WebViewState> state,
                           std::pair<PresetCommandSender, PresetCommandReceiver> queue)
    : web_view_state_(std::move(state)),
      preset_tx_(std::move(queue.first)),
      preset_thread_(start_worker(spawn_worker, std::move(queue.second), web_view_state_), preset_tx_),
      params_(std::make_shared<TessellgroveParams>()),
      host_tempo_(std::make_shared<std::atomic<float>>(120.0f)),
      host_playing_(std::make_shared<std::atomic<bool>>(false)),
      processor_(44100.0f),
      sample_rate_(44100.0f) {}

Tessellgrove::~Tessellgrove() {
    // The worker's queue loses its only sender (a throw-away one takes its
    // place), so the worker finishes the commands still queued and ends.
    preset_tx_ = make_preset_command_queue().first;
    if (std::optional<std::thread> worker = std::exchange(preset_thread_.thread, std::nullopt)) {
        if (worker->joinable()) {
            worker->join();
        }
    }
    params_.reset();
    web_view_state_.reset();
    host_tempo_.reset();
    host_playing_.reset();
}

std::shared_ptr<plugin_kit::Params> Tessellgrove::params() const { return params_; }

std::unique_ptr<plugin_kit::Editor> Tessellgrove::editor() {
    return webview::create_webview_editor(web_view_state_, params_, std::string(ui::editor_page_html()));
}

bool Tessellgrove::initialize(const plugin_kit::AudioIOLayout& /*layout*/,
                              const plugin_kit::BufferConfig& config) {
    sample_rate_ = config.sample_rate;
    processor_.set_sample_rate(sample_rate_);
    return true;
}

void Tessellgrove::reset() {
    const plugin_kit::ScopedFlushDenormals ftz;
    processor_.reset();
}

void Tessellgrove::deactivate() {}

plugin_kit::ProcessStatus Tessellgrove::process(plugin_kit::AudioBuffer& buffer,
                                                const plugin_kit::Transport& transport) {
    const plugin_kit::ScopedFlushDenormals ftz;

    const bool playing = transport.playing;
    host_playing_->store(playing, std::memory_order_relaxed);

    // The cell takes every reported tempo; the page hears only of moves
    // larger than the threshold against the block before, so a slow ramp is
    // never reported however far it travels. A tempo that is not a finite
    // float counts as no tempo: NaN in the cell would stop every later
    // comparison from ever succeeding and would reach the page as text.
    if (transport.tempo && is_usable_tempo(*transport.tempo)) {
        const auto tempo = static_cast<float>(*transport.tempo);
        const float previous = host_tempo_->exchange(tempo);
        if (std::fabs(tempo - previous) > transport_push_threshold) {
            push_transport(playing, tempo);
        }
    }

    // Before the parameter update, so that a character-mode change waiting
    // for the grid lands at once when the transport stops, and a change made
    // in the block where the transport starts waits for the new grid.
    processor_.set_playing(playing);
    update_processor_params();

    if (buffer.channels.size() < 2) {
        return plugin_kit::ProcessStatus::Normal;
    }

    float* const left = buffer.channels[0];
    float* const right = buffer.channels[1];
    processor_.process_block(left, right, buffer.frame_count);

    handle_page_message();
    return plugin_kit::ProcessStatus::Normal;
}

void Tessellgrove::update_processor_params() noexcept {
    tessellgrove::update_processor_params(*params_, host_tempo_->load(std::memory_order_relaxed), processor_);
}

void Tessellgrove::push_transport(bool playing, float tempo) noexcept {
    ++transport_push_count_;
    web_view_state_->push_transport(playing, tempo);
}

void Tessellgrove::handle_page_message() noexcept {
    // One message per block bounds what page traffic adds to any block;
    // the rest wait for later blocks.
    if (std::optional<webview::ParamMessage> message = web_view_state_->try_recv_js_message()) {
        dispatch_webview_message(std::move(*message), *params_, *web_view_state_, preset_tx_, *host_tempo_,
                                 *host_playing_);
    }
}

} // namespace tessellgrove
