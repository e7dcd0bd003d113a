#include "tools/render/test_signal.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace tessellgrove::render {
namespace {

// 32-bit linear congruential generator (Numerical Recipes constants): cheap,
// portable and identical on every platform, unlike <random> distributions.
class Noise {
public:
    explicit Noise(uint32_t seed) noexcept : state_(seed) {}
    // Uniform in [-1, 1).
    float next() noexcept {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<float>(state_ >> 8) * (2.0f / 16777216.0f) - 1.0f;
    }

private:
    uint32_t state_;
};

struct Note {
    float start_seconds;
    int midi_note;
    float pan; // 0 = left, 1 = right
};

// A minor arpeggio, eighth notes at 120 BPM, rising then falling.
constexpr std::array<Note, 16> notes{{
    {0.00f, 57, 0.3f}, {0.25f, 60, 0.7f}, {0.50f, 64, 0.3f}, {0.75f, 69, 0.7f},
    {1.00f, 72, 0.3f}, {1.25f, 69, 0.7f}, {1.50f, 64, 0.3f}, {1.75f, 60, 0.7f},
    {2.00f, 55, 0.3f}, {2.25f, 59, 0.7f}, {2.50f, 62, 0.3f}, {2.75f, 67, 0.7f},
    {3.00f, 71, 0.3f}, {3.25f, 67, 0.7f}, {3.50f, 62, 0.3f}, {3.75f, 57, 0.5f},
}};

// Karplus-Strong string: a noise-filled delay line of one period, fed back
// through a two-point average with a slight loss, added into both channels.
void add_pluck(StereoSignal& out, float sample_rate, const Note& note, Noise& noise) {
    const std::size_t frames = out.left.size();
    const auto start = static_cast<std::size_t>(note.start_seconds * sample_rate);
    if (start >= frames) {
        return;
    }
    const float frequency = 440.0f * std::exp2(static_cast<float>(note.midi_note - 69) / 12.0f);
    const auto period = std::max<std::size_t>(2, static_cast<std::size_t>(sample_rate / frequency));
    std::vector<float> line(period);
    for (float& x : line) {
        x = noise.next();
    }
    const float left_gain = 0.35f * std::sqrt(1.0f - note.pan);
    const float right_gain = 0.35f * std::sqrt(note.pan);
    const std::size_t length = std::min(frames - start, static_cast<std::size_t>(1.5f * sample_rate));
    std::size_t read = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t next = (read + 1 == period) ? 0 : read + 1;
        const float y = line[read];
        line[read] = 0.498f * (y + line[next]);
        read = next;
        out.left[start + i] += left_gain * y;
        out.right[start + i] += right_gain * y;
    }
}

// Short decaying white-noise burst (80 ms time constant), independent per channel.
void add_burst(StereoSignal& out, float sample_rate, float start_seconds, Noise& noise) {
    const std::size_t frames = out.left.size();
    const auto start = static_cast<std::size_t>(start_seconds * sample_rate);
    const std::size_t length = std::min(frames - std::min(frames, start),
                                        static_cast<std::size_t>(0.4f * sample_rate));
    const float decay = std::exp(-1.0f / (0.08f * sample_rate));
    float envelope = 0.25f;
    for (std::size_t i = 0; i < length; ++i) {
        out.left[start + i] += envelope * noise.next();
        out.right[start + i] += envelope * noise.next();
        envelope *= decay;
    }
}

} // namespace

StereoSignal make_test_signal(float sample_rate) {
    const auto frames = static_cast<std::size_t>(std::lround(test_signal_seconds * static_cast<double>(sample_rate)));
    StereoSignal out{std::vector<float>(frames, 0.0f), std::vector<float>(frames, 0.0f)};
    Noise noise(0x7e55e11u);
    for (const Note& note : notes) {
        add_pluck(out, sample_rate, note, noise);
    }
    for (const float t : {0.625f, 1.625f, 2.625f, 3.625f}) {
        add_burst(out, sample_rate, t, noise);
    }

    float peak = 0.0f;
    for (std::size_t i = 0; i < frames; ++i) {
        peak = std::max({peak, std::fabs(out.left[i]), std::fabs(out.right[i])});
    }
    if (peak > 0.0f) {
        const float gain = 0.9f / peak;
        for (std::size_t i = 0; i < frames; ++i) {
            out.left[i] *= gain;
            out.right[i] *= gain;
        }
    }
    return out;
}

} // namespace tessellgrove::render
