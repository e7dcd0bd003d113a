#pragma once
// Test harness: a parameter set and an engine driven the way the plug-in
// instance drives them (set_playing, parameter update, frames).

#include <cstddef>
#include <utility>
#include <vector>

#include "plugin/dsp/mapping.hpp"
#include "plugin/dsp/processor.hpp"
#include "plugin/params/tessellgrove_params.hpp"

namespace tessellgrove::test {

struct Harness {
    explicit Harness(float sample_rate = 44100.0f) : processor(sample_rate) {}

    // Transport and parameter update for one block.
    void begin_block(bool playing = false)
    {
        processor.set_playing(playing);
        update_processor_params(params, tempo, processor);
    }

    // One block of constant input; returns the outputs.
    std::vector<std::pair<float, float>> run(std::size_t frames, float left, float right,
                                             bool playing = false)
    {
        begin_block(playing);
        std::vector<std::pair<float, float>> out;
        out.reserve(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            out.push_back(processor.process(left, right));
        }
        return out;
    }

    TessellgroveParams params;
    TessellgroveProcessor processor;
    float tempo = 120.0f;
};

} // namespace tessellgrove::test
