// The SSE2 kernels beside the scalar blocks: tanh4 measured against tanhf
// and the correctly rounded tanh over the float line; tanh1, soft_clip4,
// Saturator::process4/process1 and Wavefolder::process4 lane for lane
// against their scalar forms, special values included.

#include <emmintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dsp_kit/primitives/soft_clip.hpp"
#include "dsp_kit/primitives/tanh.hpp"
#include "dsp_kit/saturation/saturator.hpp"
#include "dsp_kit/saturation/wavefolder.hpp"

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float denorm_min = std::numeric_limits<float>::denorm_min();
constexpr float flt_min = std::numeric_limits<float>::min();
constexpr float flt_max = std::numeric_limits<float>::max();

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

// Distance in units in the last place, counting across zero.
std::int64_t ulp_distance(float a, float b)
{
    const auto key = [](float x) {
        const auto i = static_cast<std::int64_t>(std::bit_cast<std::int32_t>(x));
        return i < 0 ? static_cast<std::int64_t>(INT32_MIN) - i : i;
    };
    const std::int64_t d = key(a) - key(b);
    return d < 0 ? -d : d;
}

// Values that probe branch edges, rounding edges and the special cases.
std::vector<float> special_values()
{
    std::vector<float> xs = {0.0f, -0.0f, denorm_min, -denorm_min, 1e-40f, -3e-39f, flt_min, -flt_min,
                             1e-30f, 1e-10f, -2.4e-4f, 1e-3f, 0.1f, -0.3f, 0.5f, 0.5499999f, 0.55f,
                             -0.5500001f, 1.0f, -1.0f, 2.0f / 3.0f, 3.0f, -3.0f, 7.5f, 9.0109129f,
                             -9.0109139f, 9.1f, 12.0f, 88.7f, -104.0f, 8388607.5f, -8388608.0f,
                             2147483648.0f, -3e9f, 1e12f, -1e12f, std::nextafter(1e12f, inf),
                             std::nextafter(-1e12f, -inf), 1e20f, -1e30f, flt_max, -flt_max, inf, -inf, nan,
                             -nan};
    for (int i = -200; i <= 200; ++i) {
        xs.push_back(0.0137f * static_cast<float>(i * (i % 5 + 1)));
    }
    return xs;
}

// Runs `vec` over `xs` four at a time, with every value visiting every lane
// (the groups are rotated), and checks each lane against `one`: the same
// bits, or both NaN when `nan_any` (NaN payloads may differ between forms).
template <typename Vec, typename One>
void expect_lanes_match(const std::vector<float>& xs, Vec&& vec, One&& one, bool nan_any, const char* what)
{
    for (std::size_t shift = 0; shift < 4; ++shift) {
        for (std::size_t i = 0; i < xs.size(); i += 4) {
            alignas(16) float in[4];
            alignas(16) float out[4];
            for (std::size_t j = 0; j < 4; ++j) {
                in[(j + shift) % 4] = xs[(i + j) % xs.size()];
            }
            _mm_store_ps(out, vec(_mm_load_ps(in)));
            for (std::size_t j = 0; j < 4; ++j) {
                const float expected = one(in[j]);
                if (nan_any && std::isnan(expected)) {
                    ASSERT_TRUE(std::isnan(out[j])) << what << " x " << in[j];
                } else {
                    ASSERT_EQ(bits(out[j]), bits(expected)) << what << " x " << in[j] << " lane " << j;
                }
            }
        }
    }
}

// Every positive float from 0 to FLT_MAX at a prime bit stride (so the
// sampled mantissas drift through every pattern), then every float of
// [0.5, 0.6] (the switch between the two forms) and of [8.9, 9.2] (where
// the result reaches 1).
std::vector<float> tanh_sweep()
{
    std::vector<float> xs;
    for (std::uint32_t b = 0; b < 0x7F800000u; b += 211u) {
        xs.push_back(std::bit_cast<float>(b));
    }
    for (auto ranges : {std::pair{0.5f, 0.6f}, std::pair{8.9f, 9.2f}}) {
        for (std::uint32_t b = bits(ranges.first); b <= bits(ranges.second); ++b) {
            xs.push_back(std::bit_cast<float>(b));
        }
    }
    return xs;
}

TEST(Tanh4, WithinItsStatedUlpBoundOverTheFloatLine)
{
    // The header's bounds: 1 ulp of the correctly rounded tanh, 2 of tanhf.
    std::int64_t worst_rounded = 0;
    std::int64_t worst_tanhf = 0;
    float at_rounded = 0.0f;
    float at_tanhf = 0.0f;
    const std::vector<float> xs = tanh_sweep();
    for (std::size_t i = 0; i + 2 <= xs.size(); i += 2) {
        // Each value and its negation side by side: odd symmetry bit for bit.
        alignas(16) float out[4];
        _mm_store_ps(out, dsp_kit::tanh4(_mm_setr_ps(xs[i], -xs[i], xs[i + 1], -xs[i + 1])));
        for (std::size_t j = 0; j < 2; ++j) {
            const float x = xs[i + j];
            const float y = out[2 * j];
            ASSERT_EQ(bits(out[2 * j + 1]), bits(-y)) << x;
            const auto rounded = static_cast<float>(std::tanh(static_cast<double>(x)));
            const std::int64_t d_rounded = ulp_distance(y, rounded);
            const std::int64_t d_tanhf = ulp_distance(y, std::tanh(x));
            if (d_rounded > worst_rounded) {
                worst_rounded = d_rounded;
                at_rounded = x;
            }
            if (d_tanhf > worst_tanhf) {
                worst_tanhf = d_tanhf;
                at_tanhf = x;
            }
            // Where tanh rounds to 1, exactly 1.
            if (rounded == 1.0f) {
                ASSERT_EQ(y, 1.0f) << x;
            }
        }
    }
    EXPECT_LE(worst_rounded, 1) << "at " << at_rounded;
    EXPECT_LE(worst_tanhf, 2) << "at " << at_tanhf;
}

TEST(Tanh4, SpecialValues)
{
    struct Case { float x; float expected; };
    const Case cases[] = {
        {0.0f, 0.0f}, {-0.0f, -0.0f},                                   // signed zeros kept
        {denorm_min, denorm_min}, {-1e-40f, -1e-40f}, {1e-20f, 1e-20f}, // tiny: x itself, never 0
        // The last float below 1, and the first input that gives 1 (as tanhf).
        {9.0109129f, std::nextafter(1.0f, 0.0f)}, {std::nextafter(9.0109129f, inf), 1.0f}, {9.1f, 1.0f}, {-20.0f, -1.0f},
        {flt_max, 1.0f}, {-flt_max, -1.0f}, {inf, 1.0f}, {-inf, -1.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bits(dsp_kit::tanh1(c.x)), bits(c.expected)) << c.x;
    }
    EXPECT_TRUE(std::isnan(dsp_kit::tanh1(nan)));
    EXPECT_TRUE(std::isnan(dsp_kit::tanh1(-nan)));
}

TEST(Tanh4, OneLaneIsTanh1BitForBit)
{
    expect_lanes_match(special_values(), dsp_kit::tanh4, dsp_kit::tanh1, false, "tanh");
}

TEST(SoftClip4, EachLaneIsSoftClipBitForBit)
{
    std::vector<float> xs = special_values();
    for (std::uint32_t b = 0; b < 0x7F800000u; b += 4099u) {
        xs.push_back(std::bit_cast<float>(b));
        xs.push_back(-std::bit_cast<float>(b));
    }
    expect_lanes_match(xs, dsp_kit::soft_clip4, dsp_kit::soft_clip, true, "soft_clip");
}

// Inputs for the blocks: the special values and a dense run over the range
// the engine drives them with.
std::vector<float> block_inputs()
{
    std::vector<float> xs = special_values();
    for (int i = -6000; i <= 6000; ++i) {
        xs.push_back(static_cast<float>(i) * 0.000917f);
    }
    return xs;
}

TEST(SaturatorProcess4, LanesMatchProcess1AndStayWithinTheTanhBoundOfProcess)
{
    const std::vector<float> xs = block_inputs();
    for (std::uint8_t curve = 0; curve < 4; ++curve) {
        for (float drive : {0.0f, 0.0009f, 0.001f, 0.3f, 0.5946f, 1.0f}) {
            for (float mix : {0.0f, 0.4f, 0.667f, 1.0f}) {
                dsp_kit::Saturator sat;
                sat.set_curve(curve);
                sat.set_drive(drive);
                sat.set_mix(mix);
                SCOPED_TRACE(testing::Message() << "curve " << int{curve} << " drive " << drive << " mix " << mix);
                expect_lanes_match(
                    xs, [&](__m128 v) { return sat.process4(v); }, [&](float x) { return sat.process1(x); }, false,
                    "saturator");
                for (float x : xs) {
                    const float fast = sat.process1(x);
                    const float exact = sat.process(x);
                    if (std::isnan(exact)) {
                        ASSERT_TRUE(std::isnan(fast)) << x;
                    } else if (curve == 1 || drive < 0.001f) {
                        // Hard clip and pass-through: no tanh, the same bits.
                        ASSERT_EQ(bits(fast), bits(exact)) << x;
                    } else {
                        // Curve and input have the same sign, so the blend adds
                        // like-signed terms and keeps the curve's relative error
                        // of 2 ulp; that is up to 4 ulp of a result in a lower
                        // binade than the curve, plus one rounding apart.
                        ASSERT_LE(ulp_distance(fast, exact), 5) << x;
                    }
                }
            }
        }
    }
}

TEST(WavefolderProcess4, EachLaneIsProcessBitForBit)
{
    std::vector<float> xs = block_inputs();
    for (std::uint32_t b = 0; b < 0x7F800000u; b += 65537u) {
        xs.push_back(std::bit_cast<float>(b));
        xs.push_back(-std::bit_cast<float>(b));
    }
    for (std::uint32_t stages = 1; stages <= 4; ++stages) {
        for (float drive : {0.0f, 0.0009f, 0.2f, 0.5f, 1.0f}) {
            for (float mix : {0.0f, 0.3f, 1.0f}) {
                const dsp_kit::Wavefolder folder(drive, stages, mix);
                SCOPED_TRACE(testing::Message() << "stages " << stages << " drive " << drive << " mix " << mix);
                expect_lanes_match(
                    xs, [&](__m128 v) { return folder.process4(v); }, [&](float x) { return folder.process(x); },
                    true, "wavefolder");
            }
        }
    }
}

} // namespace
