#pragma once
// A block of non-interleaved test audio with a view the plug-in contract takes.

#include "plugin_kit/plugin/plugin.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessellgrove::testing {

struct TestBlock {
    // `channel_count` channels of `frames` samples, filled with a
    // deterministic signal distinct per channel, so a wrong channel or a
    // skipped frame shows.
    TestBlock(std::size_t channel_count, uint32_t frames, uint32_t first_frame = 0)
        : data(channel_count, std::vector<float>(frames)) {
        for (std::size_t c = 0; c < channel_count; ++c) {
            for (uint32_t i = 0; i < frames; ++i) {
                const uint32_t n = first_frame + i;
                // Two incommensurate saw-like ramps, within ±0.5.
                const float a = static_cast<float>((n * (7u + 5u * static_cast<uint32_t>(c))) % 97u) / 97.0f;
                data[c][i] = a - 0.5f;
            }
        }
        for (auto& channel : data) {
            pointers.push_back(channel.data());
        }
        buffer.channels = pointers;
        buffer.frame_count = frames;
    }
    TestBlock(const TestBlock&) = delete;
    TestBlock& operator=(const TestBlock&) = delete;

    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
    plugin_kit::AudioBuffer buffer;
};

} // namespace tessellgrove::testing
