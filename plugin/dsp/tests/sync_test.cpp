#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "plugin/dsp/sync.hpp"

namespace tessellgrove {
namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

TEST(SaturatingU32, TruncatesAndSaturates)
{
    struct Case {
        float value;
        uint32_t expected;
    };
    const Case cases[] = {
        {0.0f, 0u},
        {0.999f, 0u},
        {2.9f, 2u},
        {11025.75f, 11025u},
        {-0.5f, 0u},
        {-3.0e9f, 0u},
        {nan, 0u},
        {-inf, 0u},
        {4294967040.0f, 4294967040u}, // largest float below 2^32 is exact
        {4294967296.0f, 4294967295u},
        {inf, 4294967295u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(saturating_u32(c.value), c.expected) << "value " << c.value;
    }
}

TEST(GridPeriod, HalfBeatInSamples)
{
    struct Case {
        float sample_rate;
        float tempo;
        uint32_t expected;
    };
    const Case cases[] = {
        {44100.0f, 120.0f, 11025u},
        {48000.0f, 120.0f, 12000u},
        {44100.0f, 20.0f, 66150u},
        {44100.0f, 300.0f, 4410u},
        {44100.0f, 123.0f, 10756u}, // 10756.097... truncated
        {nan, 120.0f, 0u},
        {-44100.0f, 120.0f, 0u},
        {1.0e12f, 20.0f, 4294967295u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(grid_period_samples(c.sample_rate, c.tempo), c.expected)
            << c.sample_rate << " Hz at " << c.tempo << " BPM";
    }
}

TEST(Divisions, OutOfTableIndexCountsAsFirst)
{
    for (int32_t index : {-1, 9, 1000}) {
        EXPECT_EQ(lock_motion_beats(index), 16.0f) << index;
    }
    for (int32_t index : {-1, 4, 255}) {
        EXPECT_EQ(division_beats(index), 1.0f) << index;
    }
    // Every option is reachable and distinct from its neighbours.
    for (int32_t i = 1; i < 9; ++i) {
        EXPECT_NE(lock_motion_beats(i), lock_motion_beats(i - 1)) << i;
    }
}

TEST(SyncedRate, NeverBelowOneMilliHertz)
{
    EXPECT_FLOAT_EQ(synced_rate_hz(120.0f, 1.0f), 2.0f);
    EXPECT_FLOAT_EQ(synced_rate_hz(20.0f, 1.0e6f), 0.001f);
}

} // namespace
} // namespace tessellgrove
