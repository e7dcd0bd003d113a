#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/dsp/tests/engine_harness.hpp"

namespace tessellgrove {
namespace {

using test::Harness;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

// Sets every parameter to a random normalised value, the way host
// automation does.
void randomise(TessellgroveParams& params, std::mt19937& rng)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (const plugin_kit::ParamMapEntry& entry : params.param_map()) {
        entry.param->set_normalized_value(unit(rng));
    }
}

// Test input: mostly audio-range noise, with bursts of huge values,
// subnormals and exact zeros.
float random_input(std::mt19937& rng)
{
    std::uniform_int_distribution<int> pick(0, 19);
    std::uniform_real_distribution<float> audio(-1.0f, 1.0f);
    switch (pick(rng)) {
    case 0: return 1.0e6f;
    case 1: return -1.0e6f;
    case 2: return 1.0e-40f;
    case 3: return -3.0e-42f;
    case 4: return 0.0f;
    default: return audio(rng);
    }
}

TEST(EngineProperty, RandomSettingsAndInputsGiveFiniteBoundedOutput)
{
    const std::array<float, 5> rates = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
    std::mt19937 rng(20261211u);
    std::uniform_real_distribution<float> tempo(0.0f, 500.0f);
    std::bernoulli_distribution coin(0.5);
    for (int trial = 0; trial < 24; ++trial) {
        Harness h(44100.0f);
        h.processor.set_sample_rate(rates[static_cast<std::size_t>(trial) % rates.size()]);
        h.processor.reset();
        for (int block = 0; block < 24; ++block) {
            if (block % 4 == 0) {
                randomise(h.params, rng); // new settings, new swarm size
                h.tempo = tempo(rng);
            }
            h.begin_block(coin(rng));
            for (int i = 0; i < 256; ++i) {
                const auto [l, r] = h.processor.process(random_input(rng), random_input(rng));
                ASSERT_TRUE(std::isfinite(l) && std::isfinite(r)) << "trial " << trial << " block " << block;
                ASSERT_LE(std::fabs(l), 4.0f);
                ASSERT_LE(std::fabs(r), 4.0f);
            }
        }
    }
}

// Two engines with the same random settings; one gets bursts of NaN and
// infinities, the other zeros in their place. Every output frame must match,
// so a bad sample neither leaks out nor silences what follows.
TEST(EngineProperty, NonFiniteInputsActExactlyLikeSilence)
{
    const std::array<float, 3> bad = {nan, inf, -inf};
    std::mt19937 rng(7u);
    std::uniform_int_distribution<int> burst(0, 99);
    std::uniform_int_distribution<std::size_t> which(0, bad.size() - 1);
    for (int trial = 0; trial < 24; ++trial) {
        Harness dirty;
        Harness clean;
        randomise(dirty.params, rng);
        const std::vector<plugin_kit::ParamMapEntry> clean_map = clean.params.param_map();
        for (const plugin_kit::ParamMapEntry& entry : dirty.params.param_map()) {
            const plugin_kit::ParamMapEntry* twin = plugin_kit::find_param_entry(clean_map, entry.id);
            ASSERT_NE(twin, nullptr);
            twin->param->set_normalized_value(entry.param->normalized_value());
        }
        std::size_t bad_frames = 0;
        for (int block = 0; block < 16; ++block) {
            dirty.begin_block();
            clean.begin_block();
            for (int i = 0; i < 256; ++i) {
                float left = random_input(rng);
                float right = random_input(rng);
                float clean_left = left;
                float clean_right = right;
                if (burst(rng) < 3) {
                    left = bad[which(rng)];
                    clean_left = 0.0f;
                    ++bad_frames;
                }
                if (burst(rng) < 3) {
                    right = bad[which(rng)];
                    clean_right = 0.0f;
                }
                const auto [dl, dr] = dirty.processor.process(left, right);
                const auto [cl, cr] = clean.processor.process(clean_left, clean_right);
                ASSERT_EQ(dl, cl) << "trial " << trial << " block " << block << " frame " << i;
                ASSERT_EQ(dr, cr) << "trial " << trial << " block " << block << " frame " << i;
            }
        }
        EXPECT_GT(bad_frames, 0u);
    }
}

} // namespace
} // namespace tessellgrove
