// The production engine against the reference copy of the straightforward
// scalar engine (tests/reference): every factory preset rendered through
// both must agree within 1e-5 (-100 dBFS). The two differ only where the
// production engine takes sines with sin4/sin8 (the swarm voices, the Stoch
// oscillator; within 2 ulp of sinf), sums the voices in partial sums, and
// takes the "Warm" curve's tanh with tanh4 (within 2 ulp of tanhf).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/dsp/mapping.hpp"
#include "plugin/dsp/processor.hpp"
#include "plugin/dsp/tests/reference/mapping.hpp"
#include "plugin/dsp/tests/reference/processor.hpp"
#include "plugin/dsp/tests/test_signals.hpp"
#include "plugin/presets/factory_presets.hpp"
#include "plugin_kit/plugin/denormals.hpp"

namespace tessellgrove {
namespace {

TEST(ReferenceEngine, EveryFactoryPresetRendersWithin1e5OfTheScalarEngine)
{
    const plugin_kit::ScopedFlushDenormals ftz; // as the plug-in runs both
    constexpr std::size_t frames = 512;
    constexpr int blocks = 190; // about 2 s at 48 kHz
    const std::vector<float> left = test::noise(frames * blocks, 0xC0FFEEu);
    const std::vector<float> right = test::noise(frames * blocks, 0xFACADEu);
    float worst_overall = 0.0f;
    std::size_t swarm_presets = 0;
    for (const TessellgrovePreset& preset : FACTORY_PRESETS) {
        TessellgroveParams params;
        test::apply_preset(params, preset);
        TessellgroveProcessor engine(44100.0f);
        reference::TessellgroveProcessor scalar(44100.0f);
        engine.set_sample_rate(48000.0f);
        scalar.set_sample_rate(48000.0f);
        engine.reset();
        scalar.reset();
        float worst = 0.0f;
        double energy = 0.0;
        for (int b = 0; b < blocks; ++b) {
            engine.set_playing(true);
            scalar.set_playing(true);
            update_processor_params(params, 120.0f, engine);
            reference::update_processor_params(params, 120.0f, scalar);
            // The production engine as the plug-in runs it: a block in place.
            const std::size_t first = static_cast<std::size_t>(b) * frames;
            std::vector<float> out_left(left.begin() + static_cast<std::ptrdiff_t>(first),
                                        left.begin() + static_cast<std::ptrdiff_t>(first + frames));
            std::vector<float> out_right(right.begin() + static_cast<std::ptrdiff_t>(first),
                                         right.begin() + static_cast<std::ptrdiff_t>(first + frames));
            engine.process_block(out_left.data(), out_right.data(), frames);
            for (std::size_t i = 0; i < frames; ++i) {
                const std::size_t at = first + i;
                const float el = out_left[i];
                const float er = out_right[i];
                const auto [sl, sr] = scalar.process(left[at], right[at]);
                worst = std::max({worst, std::fabs(el - sl), std::fabs(er - sr)});
                energy += static_cast<double>(sl) * sl + static_cast<double>(sr) * sr;
            }
        }
        EXPECT_LE(worst, 1e-5f) << preset.name;
        EXPECT_GT(energy, 1.0) << preset.name << ": the render should not be silent";
        worst_overall = std::max(worst_overall, worst);
        swarm_presets += preset.carrier_mode == 2 ? 1u : 0u;
    }
    EXPECT_GT(swarm_presets, 5u); // the bank really ran in this comparison
    RecordProperty("worst_abs_difference", std::to_string(worst_overall));
}

} // namespace
} // namespace tessellgrove
