#pragma once
// The built-in test signal of tessellgrove-render: four seconds of stereo
// plucked-string arpeggio with short noise bursts on the off-beats. It is
// fully deterministic (fixed-seed generator, float arithmetic only), so tests
// can regenerate it bit for bit and compare a render against it.

#include <cstdint>
#include <vector>

namespace tessellgrove::render {

// Length of the built-in signal in seconds.
inline constexpr double test_signal_seconds = 4.0;

// Non-interleaved stereo audio, both channels of equal length.
struct StereoSignal {
    std::vector<float> left;
    std::vector<float> right;
};

// The test signal at `sample_rate` Hz; peak level 0.9 (about -0.9 dBFS).
StereoSignal make_test_signal(float sample_rate);

} // namespace tessellgrove::render
