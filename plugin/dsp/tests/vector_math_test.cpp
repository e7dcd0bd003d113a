// The SSE2 sine and fast_exp2 used by the oscillator bank: the sine within
// 2 ulp of sinf over one cycle of an oscillator's phase, lane for lane the
// same as its scalar form; the four-lane fast_exp2 bit for bit the scalar
// one everywhere, special values included.

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "dsp_kit/primitives/fast_exp2.hpp"
#include "dsp_kit/primitives/math.hpp"
#include "dsp_kit/primitives/sine.hpp"

namespace tessellgrove {
namespace {

// Distance in units in the last place, counting across zero.
int64_t ulp_distance(float a, float b)
{
    const auto key = [](float x) {
        const auto i = static_cast<int64_t>(std::bit_cast<int32_t>(x));
        return i < 0 ? static_cast<int64_t>(INT32_MIN) - i : i;
    };
    const int64_t d = key(a) - key(b);
    return d < 0 ? -d : d;
}

TEST(VectorSine, WithinTwoUlpOfSinfOverEveryPhaseOfACycle)
{
    // Every phase k / 2^24 in 0..1, as an oscillator computes its argument.
    int64_t worst = 0;
    float worst_phase = 0.0f;
    for (uint32_t k = 0; k <= (1u << 24); ++k) {
        const float phase = static_cast<float>(k) * 0x1p-24f;
        const float x = dsp_kit::two_pi * phase;
        const int64_t d = ulp_distance(dsp_kit::sin1(x), std::sin(x));
        if (d > worst) {
            worst = d;
            worst_phase = phase;
        }
    }
    EXPECT_LE(worst, 2) << "at phase " << worst_phase;
    // Exact where the library is: zero, and the sign everywhere.
    EXPECT_EQ(dsp_kit::sin1(0.0f), 0.0f);
    EXPECT_EQ(std::signbit(dsp_kit::sin1(-0.0f)), true);
    EXPECT_EQ(std::signbit(dsp_kit::sin1(3.1415930f)), std::signbit(std::sin(3.1415930f)));
}

TEST(VectorSine, FourLanesGiveTheSameValuesAsOneAtATime)
{
    std::vector<float> xs;
    for (int i = -4000; i <= 4000; ++i) {
        xs.push_back(0.0031f * static_cast<float>(i) * static_cast<float>(i % 7 + 1));
    }
    for (std::size_t i = 0; i + 4 <= xs.size(); i += 4) {
        alignas(16) float out[4];
        _mm_store_ps(out, dsp_kit::sin4(_mm_loadu_ps(&xs[i])));
        for (std::size_t j = 0; j < 4; ++j) {
            ASSERT_EQ(std::bit_cast<uint32_t>(out[j]), std::bit_cast<uint32_t>(dsp_kit::sin1(xs[i + j]))) << xs[i + j];
            ASSERT_LE(std::fabs(out[j] - std::sin(xs[i + j])), 2e-6f) << xs[i + j];
        }
    }
}

TEST(VectorFastExp2, FourLanesMatchTheScalarFunctionBitForBit)
{
    constexpr float inf = std::numeric_limits<float>::infinity();
    std::vector<float> xs = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 1e-30f, -1e-30f, 1e-42f, -1e-42f,
                             8388607.5f, -8388607.5f, 8388608.0f, -8388609.0f, 126.9f, 127.0f, 128.5f,
                             -126.0f, -127.5f, -150.0f, 2147483520.0f, 2147483648.0f, -2147483648.0f,
                             -3.0e9f, 3.0e9f, 1e38f, -1e38f, inf, -inf,
                             std::numeric_limits<float>::quiet_NaN()};
    // A dense sweep over the exponents the engine uses, and a coarse one
    // over the whole float line.
    for (int i = -3000000; i <= 3000000; ++i) {
        xs.push_back(static_cast<float>(i) * 1e-6f);
    }
    for (uint32_t bits = 0; bits < 0xFF800000u; bits += 0x00010001u) {
        xs.push_back(std::bit_cast<float>(bits));
    }
    while (xs.size() % 4 != 0) {
        xs.push_back(0.25f);
    }
    for (std::size_t i = 0; i < xs.size(); i += 4) {
        alignas(16) float out[4];
        _mm_store_ps(out, dsp_kit::fast_exp2_4(_mm_loadu_ps(&xs[i])));
        for (std::size_t j = 0; j < 4; ++j) {
            const float expected = dsp_kit::fast_exp2(xs[i + j]);
            if (std::isnan(expected)) {
                ASSERT_TRUE(std::isnan(out[j])) << xs[i + j];
            } else {
                ASSERT_EQ(std::bit_cast<uint32_t>(out[j]), std::bit_cast<uint32_t>(expected)) << xs[i + j];
            }
        }
    }
}

} // namespace
} // namespace tessellgrove
