#include "plugin/lib/tessellgrove.hpp"

#include "plugin/dsp/mapping.hpp"
#include "plugin/lib/tests/test_block.hpp"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tessellgrove {
namespace {

using plugin_kit::ProcessStatus;
using plugin_kit::Transport;
using testing::TestBlock;

ProcessStatus run_block(Tessellgrove& plugin, uint32_t frames, const Transport& transport,
                        std::size_t channels = 2) {
    TestBlock block(channels, frames);
    return plugin.process(block.buffer, transport);
}

// --- Transport cells and the transport-push decision ------------------------

struct TempoCase {
    std::string name;
    std::vector<std::optional<double>> tempos; // per block; nullopt = host reports none
    std::vector<uint64_t> pushes_after;        // push count after each block
    float final_tempo;                          // host_tempo after the last block
};

class TempoPush : public ::testing::TestWithParam<TempoCase> {};

TEST_P(TempoPush, PushesOnlyWhenTheTempoMovedMoreThanAHundredthAgainstThePreviousBlock) {
    const TempoCase& c = GetParam();
    ASSERT_EQ(c.tempos.size(), c.pushes_after.size());
    Tessellgrove plugin;
    for (std::size_t b = 0; b < c.tempos.size(); ++b) {
        const auto status = run_block(plugin, 32, Transport{false, c.tempos[b]});
        EXPECT_EQ(status, ProcessStatus::Normal);
        EXPECT_EQ(plugin.transport_push_count(), c.pushes_after[b]) << "after block " << b;
        if (c.tempos[b] && std::isfinite(*c.tempos[b]) && std::fabs(*c.tempos[b]) < 1e30) {
            // The cell takes every reported tempo, pushed or not.
            EXPECT_EQ(plugin.host_tempo()->load(), static_cast<float>(*c.tempos[b])) << "after block " << b;
        }
    }
    EXPECT_EQ(plugin.host_tempo()->load(), c.final_tempo);
}

std::vector<TempoCase> tempo_cases() {
    std::vector<TempoCase> cases = {
        {"Constant120", {120.0, 120.0, 120.0}, {0, 0, 0}, 120.0f},
        {"Constant121", {121.0, 121.0, 121.0}, {1, 1, 1}, 121.0f},
        {"Step120_005", {120.005}, {0}, 120.005f},
        {"Step120_01", {120.01}, {1}, 120.01f},
        {"Step120_02", {120.02}, {1}, 120.02f},
        {"BackAndForth", {121.0, 120.0, 120.0, 121.0}, {1, 2, 2, 3}, 121.0f},
        {"NoTempoKeepsTheCell", {std::nullopt, std::nullopt}, {0, 0}, 120.0f},
        {"NoTempoAfter121", {121.0, std::nullopt, std::nullopt, 121.0}, {1, 1, 1, 1}, 121.0f},
        // Unusable reports count as none; the next real tempo compares with the last good one.
        {"NonFiniteIgnored",
         {121.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300, 121.0, 130.0},
         {1, 1, 1, 1, 1, 2},
         130.0f},
    };
    // A ramp of 0.009 BPM per block travels far but is never reported.
    TempoCase ramp{"SlowRamp", {}, {}, 0.0f};
    for (int b = 1; b <= 200; ++b) {
        ramp.tempos.emplace_back(120.0 + 0.009 * b);
        ramp.pushes_after.push_back(0);
    }
    ramp.final_tempo = static_cast<float>(120.0 + 0.009 * 200);
    cases.push_back(ramp);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Tessellgrove, TempoPush, ::testing::ValuesIn(tempo_cases()),
                         [](const auto& test_info) { return test_info.param.name; });

TEST(Tessellgrove, FreshInstanceStartsAt120StoppedAnd44100) {
    Tessellgrove plugin;
    EXPECT_EQ(plugin.host_tempo()->load(), 120.0f);
    EXPECT_FALSE(plugin.host_playing()->load());
    EXPECT_EQ(plugin.sample_rate(), 44100.0f);
    EXPECT_EQ(plugin.processor().sample_rate, 44100.0f);
    EXPECT_EQ(plugin.params().get(), plugin.tessellgrove_params().get());
}

TEST(Tessellgrove, TheEngineGetsTheReportedTempoClampedInTheSameBlock) {
    Tessellgrove plugin;
    for (const auto& [reported, expected] : {std::pair{10.0, 20.0f}, {400.0, 300.0f}, {97.5, 97.5f}}) {
        run_block(plugin, 8, Transport{false, reported});
        EXPECT_EQ(plugin.processor().tempo, expected) << reported;
        EXPECT_EQ(plugin.host_tempo()->load(), static_cast<float>(reported));
    }
}

// --- Steps 1 to 4 run whatever the block ------------------------------------

struct BlockShape {
    std::size_t channels;
    uint32_t frames;
};

class EveryBlockShape : public ::testing::TestWithParam<BlockShape> {};

TEST_P(EveryBlockShape, RunsTransportAndParameterStepsAndReportsNormal) {
    const auto [channels, frames] = GetParam();
    Tessellgrove plugin;
    plugin.tessellgrove_params()->mix.set_plain_value(0.25f);
    plugin.tessellgrove_params()->stereo_width.set_plain_value(1.5f);

    TestBlock block(channels, frames);
    const auto status = plugin.process(block.buffer, Transport{true, 121.0});

    EXPECT_EQ(status, ProcessStatus::Normal);
    EXPECT_TRUE(plugin.host_playing()->load());
    EXPECT_EQ(plugin.host_tempo()->load(), 121.0f);
    EXPECT_EQ(plugin.transport_push_count(), 1u);
    EXPECT_TRUE(plugin.processor().playing);
    EXPECT_EQ(plugin.processor().mix, 0.25f);
    EXPECT_EQ(plugin.processor().stereo_width, 1.5f);
    EXPECT_EQ(plugin.processor().tempo, 121.0f);

    // The engine advances only when it gets frames: one grid count per frame.
    const uint32_t processed = channels >= 2 ? frames : 0;
    EXPECT_EQ(plugin.processor().grid_counter, processed);

    const TestBlock untouched(channels, frames);
    for (std::size_t c = 0; c < channels; ++c) {
        const bool processed_channel = channels >= 2 && c < 2;
        if (processed_channel) {
            continue;
        }
        EXPECT_EQ(block.data[c], untouched.data[c]) << "channel " << c << " of " << channels;
    }
}

INSTANTIATE_TEST_SUITE_P(Tessellgrove, EveryBlockShape,
                         ::testing::Values(BlockShape{0, 0}, BlockShape{0, 64}, BlockShape{1, 0},
                                           BlockShape{1, 64}, BlockShape{2, 0}, BlockShape{2, 64},
                                           BlockShape{3, 64}),
                         [](const auto& test_info) {
                             return std::to_string(test_info.param.channels) + "ch_" +
                                    std::to_string(test_info.param.frames) + "frames";
                         });

// --- Audio: in place, one engine frame per sample frame ---------------------

TEST(Tessellgrove, ProcessesInPlaceExactlyAsTheEngineFedFrameByFrame) {
    Tessellgrove plugin;
    auto& params = *plugin.tessellgrove_params();
    params.mix.set_plain_value(0.8f);
    params.char_mode.set_plain_value(1);
    params.comb_mix.set_plain_value(0.5f);
    params.comb_feedback.set_plain_value(0.6f);
    params.trig_amount.set_plain_value(0.7f);
    params.stereo_width.set_plain_value(1.4f);

    constexpr uint32_t frames = 2048;
    const Transport transport{true, 133.0};

    // Reference: the engine alone, driven the way the callback must drive it.
    TessellgroveProcessor reference(44100.0f);
    reference.set_playing(transport.playing);
    update_processor_params(params, 133.0f, reference);
    TestBlock expected(2, frames);
    for (uint32_t i = 0; i < frames; ++i) {
        const auto [l, r] = reference.process(expected.data[0][i], expected.data[1][i]);
        expected.data[0][i] = l;
        expected.data[1][i] = r;
    }

    // The same audio split into uneven pieces, as hosts slice blocks at
    // parameter changes; values are unchanged so the split must not matter.
    std::vector<float> left, right;
    uint32_t done = 0;
    for (const uint32_t piece : {1u, 0u, 511u, 512u, 7u, 1017u}) {
        TestBlock block(2, piece, done);
        EXPECT_EQ(plugin.process(block.buffer, transport), ProcessStatus::Normal);
        left.insert(left.end(), block.data[0].begin(), block.data[0].end());
        right.insert(right.end(), block.data[1].begin(), block.data[1].end());
        done += piece;
    }
    ASSERT_EQ(done, frames);
    EXPECT_EQ(left, expected.data[0]);
    EXPECT_EQ(right, expected.data[1]);
    const TestBlock input(2, frames);
    EXPECT_NE(left, input.data[0]); // the effect did something
}

// --- Character mode and the transport ---------------------------------------

TEST(Tessellgrove, StoppingTheTransportAppliesAWaitingCharacterModeInThatBlock) {
    Tessellgrove plugin;
    auto& params = *plugin.tessellgrove_params();
    run_block(plugin, 64, Transport{true, 120.0});
    params.char_mode.set_plain_value(3); // "Fold"
    run_block(plugin, 64, Transport{true, 120.0});
    ASSERT_EQ(plugin.processor().character_mode, 0); // waits for the half-beat grid
    ASSERT_EQ(plugin.processor().pending_character_mode, 3);

    run_block(plugin, 0, Transport{false, 120.0});
    EXPECT_EQ(plugin.processor().character_mode, 3);
    EXPECT_EQ(plugin.processor().pending_character_mode, TessellgroveProcessor::no_pending_mode);
}

TEST(Tessellgrove, AChangeMadeAsTheTransportStartsWaitsForTheRestartedGrid) {
    Tessellgrove plugin;
    auto& params = *plugin.tessellgrove_params();
    run_block(plugin, 300, Transport{false, 120.0});
    ASSERT_EQ(plugin.processor().grid_counter, 300u);

    // The engine must hear of the start before the parameters are copied:
    // then the change waits for the grid instead of landing at once.
    params.char_mode.set_plain_value(2); // "Warm"
    run_block(plugin, 40, Transport{true, 120.0});
    EXPECT_EQ(plugin.processor().character_mode, 0);
    EXPECT_EQ(plugin.processor().pending_character_mode, 2);
    EXPECT_EQ(plugin.processor().grid_counter, 40u); // restarted from 0 in this block
}

// --- Lifecycle ---------------------------------------------------------------

TEST(Tessellgrove, InitializeFollowsTheHostRateWhateverTheLayout) {
    Tessellgrove plugin;
    const plugin_kit::AudioIOLayout odd_layout{1, 7};
    for (const float rate : {96000.0f, 22050.0f, 48000.0f}) {
        EXPECT_TRUE(plugin.initialize(odd_layout, plugin_kit::BufferConfig{rate, 0, 0}));
        EXPECT_EQ(plugin.sample_rate(), rate);
        EXPECT_EQ(plugin.processor().sample_rate, rate);
        EXPECT_EQ(plugin.processor().grid_period, static_cast<uint32_t>(rate * 60.0f / 240.0f));
    }
    plugin.deactivate();
    EXPECT_EQ(plugin.sample_rate(), 48000.0f);
}

TEST(Tessellgrove, ResetClearsTheEngineAndThenMatchesAFreshInstance) {
    Tessellgrove used;
    Tessellgrove fresh;
    for (Tessellgrove* p : {&used, &fresh}) {
        p->tessellgrove_params()->comb_mix.set_plain_value(1.0f);
        p->tessellgrove_params()->comb_feedback.set_plain_value(0.9f);
    }
    run_block(used, 4000, Transport{true, 120.0});
    used.tessellgrove_params()->char_mode.set_plain_value(1);
    run_block(used, 10, Transport{true, 120.0});
    ASSERT_NE(used.processor().pending_character_mode, TessellgroveProcessor::no_pending_mode);

    used.reset();
    fresh.reset();
    fresh.tessellgrove_params()->char_mode.set_plain_value(1);
    EXPECT_EQ(used.processor().grid_counter, 0u);
    EXPECT_EQ(used.processor().pending_character_mode, TessellgroveProcessor::no_pending_mode);

    // Stopped from here on, so the character change lands in both at once.
    TestBlock a(2, 1024);
    TestBlock b(2, 1024);
    used.process(a.buffer, Transport{false, 120.0});
    fresh.process(b.buffer, Transport{false, 120.0});
    EXPECT_EQ(a.data, b.data);
}

// --- Floating-point mode -----------------------------------------------------

TEST(Tessellgrove, FlushesDenormalsWhileProcessingAndRestoresTheCallersMode) {
    Tessellgrove plugin;
    auto& params = *plugin.tessellgrove_params();
    params.mix.set_plain_value(0.0f); // dry only: the output is the input

    const float tiny = std::numeric_limits<float>::denorm_min() * 1000.0f;
    ASSERT_EQ(std::fpclassify(tiny), FP_SUBNORMAL);
    TestBlock block(2, 16);
    for (auto& channel : block.data) {
        std::fill(channel.begin(), channel.end(), tiny);
    }

    // Control bits only: the low six bits are sticky exception flags.
    constexpr unsigned control_bits = 0xFFC0u;
    const unsigned caller_mode = _mm_getcsr() & ~(0x8000u | 0x0040u); // FTZ and DAZ off
    _mm_setcsr(caller_mode);
    plugin.process(block.buffer, Transport{});
    EXPECT_EQ(_mm_getcsr() & control_bits, caller_mode & control_bits);
    plugin.reset();
    EXPECT_EQ(_mm_getcsr() & control_bits, caller_mode & control_bits);

    // A subnormal input reads as zero inside the callback.
    for (const auto& channel : block.data) {
        for (const float x : channel) {
            EXPECT_EQ(x, 0.0f);
        }
    }
}

} // namespace
} // namespace tessellgrove
