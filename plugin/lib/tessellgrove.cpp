#include "plugin/lib/tessellgrove.hpp"

#include "plugin/dsp/mapping.hpp"
#include "plugin_kit/plugin/denormals.hpp"

#include <cmath>
#include <limits>

namespace tessellgrove {
namespace {

bool is_usable_tempo(double bpm) noexcept {
    return std::isfinite(bpm) && std::fabs(bpm) <= static_cast<double>(std::numeric_limits<float>::max());
}

} // namespace

Tessellgrove::Tessellgrove()
    : params_(std::make_shared<TessellgroveParams>()),
      host_tempo_(std::make_shared<std::atomic<float>>(120.0f)),
      host_playing_(std::make_shared<std::atomic<bool>>(false)),
      processor_(44100.0f),
      sample_rate_(44100.0f) {}

std::shared_ptr<plugin_kit::Params> Tessellgrove::params() const { return params_; }

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
    for (uint32_t i = 0; i < buffer.frame_count; ++i) {
        const auto [out_left, out_right] = processor_.process(left[i], right[i]);
        left[i] = out_left;
        right[i] = out_right;
    }

    handle_page_message();
    return plugin_kit::ProcessStatus::Normal;
}

void Tessellgrove::update_processor_params() noexcept {
    tessellgrove::update_processor_params(*params_, host_tempo_->load(std::memory_order_relaxed), processor_);
}

void Tessellgrove::push_transport(bool /*playing*/, float /*tempo*/) noexcept {
    ++transport_push_count_;
}

void Tessellgrove::handle_page_message() noexcept {}

} // namespace tessellgrove
