// OscillatorBank: voice counts, the voice law, drift and reset; both
// kernels against the scalar definitions and against each other.

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "dsp_kit/oscillator/oscillator_bank.hpp"
#include "dsp_kit/primitives/fast_exp2.hpp"
#include "dsp_kit/primitives/oscillator.hpp"
#include "dsp_kit/primitives/sine.hpp"

using dsp_kit::OscillatorBank;
using dsp_kit::fast_exp2;

namespace {

using Kernel = OscillatorBank::Kernel;

std::uint32_t bits(float x)
{
    return std::bit_cast<std::uint32_t>(x);
}

// The kernels this processor runs.
std::vector<Kernel> available_kernels()
{
    std::vector<Kernel> kernels{Kernel::Sse2};
    if (OscillatorBank::fastest_kernel() == Kernel::Avx2) {
        kernels.push_back(Kernel::Avx2);
    }
    return kernels;
}

const char* name(Kernel k)
{
    return k == Kernel::Avx2 ? "avx2" : "sse2";
}

// Every lane of every per-voice array, bit for bit (unused lanes included).
void expect_same_state(const OscillatorBank& a, const OscillatorBank& b, int frame)
{
    ASSERT_EQ(a.size(), b.size()) << frame;
    ASSERT_EQ(a.drift_counter, b.drift_counter) << frame;
    for (std::size_t i = 0; i < OscillatorBank::max_voices; ++i) {
        ASSERT_EQ(bits(a.oscillators.phase[i]), bits(b.oscillators.phase[i])) << frame << " voice " << i;
        ASSERT_EQ(bits(a.oscillators.phase_increment[i]), bits(b.oscillators.phase_increment[i])) << frame << " voice " << i;
        ASSERT_EQ(bits(a.oscillators.frequency[i]), bits(b.oscillators.frequency[i])) << frame << " voice " << i;
        ASSERT_EQ(bits(a.drift_phases[i]), bits(b.drift_phases[i])) << frame << " voice " << i;
        ASSERT_EQ(bits(a.voice_ratios[i]), bits(b.voice_ratios[i])) << frame << " voice " << i;
    }
}

// Lanes from size() on hold 0 in every per-voice array.
void expect_unused_lanes_zero(const OscillatorBank& b)
{
    for (std::size_t i = b.size(); i < OscillatorBank::max_voices; ++i) {
        EXPECT_EQ(bits(b.oscillators.phase[i]), 0u) << i;
        EXPECT_EQ(bits(b.oscillators.phase_increment[i]), 0u) << i;
        EXPECT_EQ(bits(b.oscillators.frequency[i]), 0u) << i;
        EXPECT_EQ(bits(b.drift_phases[i]), 0u) << i;
        EXPECT_EQ(bits(b.voice_ratios[i]), 0u) << i;
    }
}

[[gnu::target("avx2")]] void sin8_of(const float* x, float* out)
{
    _mm256_storeu_ps(out, dsp_kit::sin8(_mm256_loadu_ps(x)));
}

} // namespace

TEST(OscillatorBank, VoiceCountIsLimitedToTwoThroughSixteen)
{
    struct Case { std::size_t requested; std::size_t built; };
    const Case cases[] = {
        {0, 2}, {1, 2}, {2, 2}, {3, 3}, {7, 7}, {16, 16}, {17, 16}, {40, 16},
        {std::numeric_limits<std::size_t>::max(), 16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OscillatorBank(c.requested, 44100.0f).size(), c.built) << c.requested;
    }
}

TEST(OscillatorBank, NewBankStartsOnGoldenRatioPhasesAtTheBaseFrequency)
{
    const OscillatorBank bank(16, 48000.0f);
    const float phases[] = {0.0f, 0.618034f, 0.236068f, 0.854102f};
    for (std::size_t i = 0; i < std::size(phases); ++i) {
        EXPECT_NEAR(bank.oscillators[i].phase, phases[i], 1e-5f);
    }
    for (std::size_t i = 0; i < bank.size(); ++i) {
        EXPECT_FLOAT_EQ(bank.oscillators[i].frequency, 439.93246f) << i;
        EXPECT_FLOAT_EQ(bank.oscillators[i].phase_increment, 439.93246f / 48000.0f) << i;
        EXPECT_FLOAT_EQ(bank.drift_phases[i], 0.1f * static_cast<float>(i));
    }
    EXPECT_FLOAT_EQ(bank.drift_rates[0], 0.1f);
    EXPECT_FLOAT_EQ(bank.drift_rates[15], 0.55f);
}

TEST(OscillatorBank, SpreadPlacesVoicesEvenlyInLogFrequency)
{
    {
        OscillatorBank bank(2, 44100.0f);
        bank.set_spread(1.0f);
        EXPECT_FLOAT_EQ(bank.oscillators[0].frequency, 219.96623f);
        EXPECT_FLOAT_EQ(bank.oscillators[1].frequency, 879.86492f);
    }
    {
        OscillatorBank bank(5, 44100.0f);
        bank.set_frequency(300.0f);
        bank.set_spread(0.5f);
        const float exponents[] = {-0.5f, -0.25f, 0.0f, 0.25f, 0.5f};
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_FLOAT_EQ(bank.oscillators[i].frequency, 300.0f * fast_exp2(exponents[i])) << i;
        }
    }
}

TEST(OscillatorBank, SettersClamp)
{
    OscillatorBank bank(4, 44100.0f);
    bank.set_spread(3.0f);
    EXPECT_EQ(bank.spread, 1.0f);
    bank.set_spread(-1.0f);
    EXPECT_EQ(bank.spread, 0.0f);
    bank.set_drift(2.0f);
    EXPECT_EQ(bank.drift, 1.0f);
    bank.set_drift(-2.0f);
    EXPECT_EQ(bank.drift, 0.0f);
    bank.set_frequency(-50.0f);
    EXPECT_EQ(bank.frequency, 0.0f);
    for (std::size_t i = 0; i < bank.size(); ++i) {
        EXPECT_EQ(bank.oscillators[i].frequency, 0.0f);
    }
}

TEST(OscillatorBank, SampleRateChangeKeepsFrequencies)
{
    OscillatorBank bank(3, 44100.0f);
    bank.set_frequency(1000.0f);
    bank.set_spread(1.0f);
    const float high = bank.oscillators[2].frequency;
    bank.set_sample_rate(96000.0f);
    EXPECT_EQ(bank.oscillators[2].frequency, high);
    EXPECT_FLOAT_EQ(bank.oscillators[2].phase_increment, high / 96000.0f);
    EXPECT_EQ(bank.sample_rate, 96000.0f);
}

TEST(OscillatorBank, DriftRefreshesEveryThirtyTwoSamplesWithinOnePercent)
{
    OscillatorBank bank(4, 44100.0f);
    bank.set_frequency(1000.0f);
    bank.set_spread(0.5f);
    bank.set_drift(1.0f);
    float law[4];
    for (std::size_t i = 0; i < 4; ++i) {
        law[i] = bank.oscillators[i].frequency;
    }
    for (int n = 0; n < 31; ++n) {
        bank.process();
    }
    EXPECT_EQ(bank.oscillators[1].frequency, law[1]) << "no drift update before the 32nd sample";
    bank.process();
    EXPECT_NE(bank.oscillators[1].frequency, law[1]);
    EXPECT_EQ(bank.drift_counter, 0u);

    float widest = 0.0f;
    for (int n = 0; n < 44100 * 6; ++n) {
        bank.process();
        for (std::size_t i = 0; i < 4; ++i) {
            const float offset = std::fabs(bank.oscillators[i].frequency - law[i]);
            ASSERT_LE(offset, 10.0f + 1e-3f);
            widest = std::max(widest, offset);
        }
    }
    EXPECT_GT(widest, 9.0f); // the drift really spans most of its ±1 % range
}

TEST(OscillatorBank, ZeroDriftHoldsTheCounterAndTheLastOffsets)
{
    OscillatorBank bank(4, 44100.0f);
    bank.set_frequency(1000.0f);
    bank.set_drift(1.0f);
    for (int n = 0; n < 32 * 10 + 5; ++n) {
        bank.process();
    }
    const float drifted = bank.oscillators[3].frequency;
    ASSERT_NE(drifted, 1000.0f * fast_exp2(0.0f));
    const std::uint32_t counter = bank.drift_counter;

    bank.set_drift(0.0f);
    for (int n = 0; n < 1000; ++n) {
        bank.process();
    }
    EXPECT_EQ(bank.drift_counter, counter);
    EXPECT_EQ(bank.oscillators[3].frequency, drifted);

    bank.set_frequency(1000.0f); // the voice law removes the offset
    EXPECT_EQ(bank.oscillators[3].frequency, 1000.0f * fast_exp2(0.0f));
}

TEST(OscillatorBank, SameFrequencyVoicesDoNotSumToAFullScaleSine)
{
    for (std::size_t n : {2u, 4u, 16u}) {
        OscillatorBank bank(n, 44100.0f);
        float peak = 0.0f;
        for (int i = 0; i < 44100; ++i) {
            peak = std::max(peak, std::fabs(bank.process()));
        }
        EXPECT_LT(peak, 0.99f) << n << " voices";
        EXPECT_GT(peak, 0.01f) << n << " voices";
    }
}

TEST(OscillatorBank, ResetAndRebuildMatchAFreshBank)
{
    const float sr = 48000.0f;
    auto configure = [](OscillatorBank& b) {
        b.set_frequency(220.0f);
        b.set_spread(0.7f);
    };
    OscillatorBank fresh(6, sr);
    configure(fresh);

    OscillatorBank used(6, sr);
    configure(used);
    for (int n = 0; n < 12345; ++n) {
        used.process();
    }
    used.reset();
    for (int n = 0; n < 4096; ++n) {
        ASSERT_EQ(used.process(), fresh.process()) << n;
    }

    // Rebuilding for another count gives exactly a new bank of that count,
    // with fresh phases and drift state.
    OscillatorBank rebuilt(4, sr);
    rebuilt.set_drift(0.8f);
    for (int n = 0; n < 5000; ++n) {
        rebuilt.process();
    }
    rebuilt.rebuild(9);
    OscillatorBank nine(9, sr);
    EXPECT_EQ(rebuilt.size(), 9u);
    EXPECT_EQ(rebuilt.drift, 0.0f);
    EXPECT_EQ(rebuilt.drift_counter, 0u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(rebuilt.drift_phases[i], nine.drift_phases[i]);
    }
    for (int n = 0; n < 2048; ++n) {
        ASSERT_EQ(rebuilt.process(), nine.process()) << n;
    }
}

TEST(OscillatorBank, EachKernelStepsLikeOscillatorAndSumsInTheStatedOrder)
{
    // Voices at up to 1.5 cycles per sample take the whole-cycle wrap too.
    struct Case { std::size_t count; float frequency; float spread; float sample_rate; };
    const Case cases[] = {
        {2, 440.0f, 0.3f, 48000.0f}, {3, 1000.0f, 1.0f, 44100.0f}, {4, 95.0f, 0.6f, 96000.0f},
        {5, 3000.0f, 1.0f, 4000.0f}, {8, 2500.0f, 0.9f, 48000.0f}, {9, 3000.0f, 1.0f, 4000.0f},
        {12, 700.0f, 0.45f, 22050.0f}, {13, 5000.0f, 1.0f, 6000.0f}, {16, 320.0f, 0.65f, 48000.0f},
    };
    for (const Kernel kernel : available_kernels()) {
        for (const Case& c : cases) {
            OscillatorBank bank(c.count, c.sample_rate);
            bank.use_kernel(kernel);
            bank.set_frequency(c.frequency);
            bank.set_spread(c.spread);
            std::array<dsp_kit::Oscillator, OscillatorBank::max_voices> voices{};
            for (std::size_t i = 0; i < c.count; ++i) {
                voices[i].phase = bank.oscillators[i].phase;
                voices[i].phase_increment = bank.oscillators[i].phase_increment;
            }
            for (int n = 0; n < 3000; ++n) {
                std::array<float, OscillatorBank::max_voices> s{}; // unused voices: +0
                for (std::size_t i = 0; i < c.count; ++i) {
                    s[i] = dsp_kit::sin1(dsp_kit::two_pi * voices[i].advance());
                }
                float t[4];
                for (std::size_t j = 0; j < 4; ++j) {
                    t[j] = (s[j] + s[j + 8]) + (s[j + 4] + s[j + 12]);
                }
                const float expected = ((t[0] + t[2]) + (t[1] + t[3])) / static_cast<float>(c.count);
                ASSERT_EQ(bits(bank.process()), bits(expected)) << name(kernel) << " " << c.count << " frame " << n;
                for (std::size_t i = 0; i < c.count; ++i) {
                    ASSERT_EQ(bits(bank.oscillators[i].phase), bits(voices[i].phase))
                        << name(kernel) << " " << c.count << " voice " << i;
                }
            }
            expect_unused_lanes_zero(bank);
        }
    }
}

TEST(OscillatorBank, EachKernelGivesTheScalarVoiceLawAndDrift)
{
    std::mt19937 rng(1234u);
    std::uniform_real_distribution<float> hz(0.0f, 6000.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (const Kernel kernel : available_kernels()) {
        for (std::size_t count = 2; count <= OscillatorBank::max_voices; ++count) {
            const float sr = count % 3 == 0 ? 44100.0f : 48000.0f;
            OscillatorBank bank(count, sr);
            bank.use_kernel(kernel);
            for (int round = 0; round < 40; ++round) {
                const float f = hz(rng);
                const float spread = unit(rng);
                bank.set_frequency(f);
                bank.set_spread(spread);
                bank.set_drift(unit(rng));
                for (std::size_t i = 0; i < count; ++i) {
                    const float ratio = fast_exp2(bank.voice_position(i) * bank.spread);
                    const float law = std::max(bank.frequency * ratio, 0.0f);
                    ASSERT_EQ(bits(bank.voice_ratios[i]), bits(ratio)) << name(kernel) << " " << count << " voice " << i;
                    ASSERT_EQ(bits(bank.oscillators[i].frequency), bits(law)) << name(kernel) << " " << count;
                    ASSERT_EQ(bits(bank.oscillators[i].phase_increment), bits(law / sr)) << name(kernel) << " " << count;
                }
                // Several drift updates in a row, so the drift phases wrap.
                for (int update = 0; update < 50; ++update) {
                    std::array<float, OscillatorBank::max_voices> phases{};
                    std::array<float, OscillatorBank::max_voices> hz_expected{};
                    const float depth = bank.drift * bank.frequency * 0.01f;
                    for (std::size_t i = 0; i < count; ++i) {
                        float p = bank.drift_phases[i] + bank.drift_rates[i] * (32.0f / sr);
                        if (p >= 1.0f) {
                            p -= 1.0f;
                        }
                        phases[i] = p;
                        const float m = dsp_kit::sin1(dsp_kit::two_pi * p);
                        hz_expected[i] = std::max(bank.frequency * bank.voice_ratios[i] + m * depth, 0.0f);
                    }
                    bank.apply_drift();
                    for (std::size_t i = 0; i < count; ++i) {
                        ASSERT_EQ(bits(bank.drift_phases[i]), bits(phases[i])) << name(kernel) << " " << count;
                        ASSERT_EQ(bits(bank.oscillators[i].frequency), bits(hz_expected[i]))
                            << name(kernel) << " " << count << " voice " << i;
                        ASSERT_EQ(bits(bank.oscillators[i].phase_increment), bits(hz_expected[i] / sr))
                            << name(kernel) << " " << count << " voice " << i;
                    }
                }
                expect_unused_lanes_zero(bank);
            }
        }
    }
}

TEST(OscillatorBank, KernelsAgreeBitForBitUnderRandomAutomation)
{
    if (OscillatorBank::fastest_kernel() != Kernel::Avx2) {
        GTEST_SKIP() << "this processor has no AVX2";
    }
    for (std::size_t count = 2; count <= OscillatorBank::max_voices; ++count) {
        std::mt19937 rng(static_cast<std::uint32_t>(977u * count));
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        std::uniform_int_distribution<int> event(0, 999);
        const float rates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f, 3000.0f};
        OscillatorBank narrow(count, 48000.0f);
        OscillatorBank wide(count, 48000.0f);
        narrow.use_kernel(Kernel::Sse2);
        wide.use_kernel(Kernel::Avx2);
        ASSERT_EQ(wide.kernel(), Kernel::Avx2);
        for (int frame = 0; frame < 20000; ++frame) {
            // Per-frame retuning as lock motion and the envelope push do it,
            // plus rarer jumps: out-of-range values, rate changes, resets,
            // other voice counts.
            const int e = event(rng);
            const float f = 40.0f + 4960.0f * unit(rng);
            const float spread = unit(rng);
            const float drift = unit(rng);
            const float value = unit(rng) * 3.0f - 1.0f;
            const float sr = rates[static_cast<std::size_t>(event(rng)) % std::size(rates)];
            for (OscillatorBank* b : {&narrow, &wide}) {
                if (e < 300) {
                    b->set_frequency(f);
                }
                if (e >= 200 && e < 500) {
                    b->set_spread(spread);
                }
                if (e >= 400 && e < 550) {
                    b->set_drift(drift);
                }
                if (e >= 550 && e < 650) {
                    b->set_frequency_and_spread(f, spread);
                }
                if (e >= 990) {
                    switch (e % 5) {
                    case 0: b->set_frequency(value * 9000.0f); break;
                    case 1: b->set_spread(value); break;
                    case 2: b->set_sample_rate(sr); break;
                    case 3: b->reset(); break;
                    default: b->rebuild(count + static_cast<std::size_t>(frame % 7)); break;
                    }
                }
            }
            ASSERT_EQ(bits(narrow.process()), bits(wide.process())) << count << " frame " << frame;
            expect_same_state(narrow, wide, frame);
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
        EXPECT_EQ(narrow.kernel(), Kernel::Sse2);
        EXPECT_EQ(wide.kernel(), Kernel::Avx2);
    }
}

TEST(OscillatorBank, FrequencyAndSpreadTogetherEqualTheTwoSetters)
{
    // From a drifted state, so the drift term has to go as well (also where
    // the spread stays 0.4).
    struct Case { std::size_t count; float frequency; float spread; };
    const Case cases[] = {
        {2, 440.0f, 0.3f}, {3, 700.0f, 0.4f}, {5, -20.0f, 0.5f}, {8, 5000.0f, 2.0f}, {11, 123.0f, -1.0f}, {16, 2000.0f, 0.77f},
    };
    for (const Kernel kernel : available_kernels()) {
        for (const Case& c : cases) {
            OscillatorBank one_call(c.count, 48000.0f);
            one_call.use_kernel(kernel);
            one_call.set_spread(0.4f);
            one_call.set_drift(1.0f);
            for (int n = 0; n < 500; ++n) {
                one_call.process();
            }
            OscillatorBank two_calls = one_call;
            one_call.set_frequency_and_spread(c.frequency, c.spread);
            two_calls.set_frequency(c.frequency);
            two_calls.set_spread(c.spread);
            EXPECT_EQ(one_call.frequency, two_calls.frequency);
            EXPECT_EQ(one_call.spread, two_calls.spread);
            expect_same_state(one_call, two_calls, 0);
        }
    }
}

TEST(OscillatorBank, CopyTuningTakesSettingsAndVoicesButNotRunningState)
{
    OscillatorBank leader(7, 48000.0f);
    leader.set_frequency(330.0f);
    leader.set_spread(0.6f);
    leader.set_drift(0.9f);
    for (int n = 0; n < 1000; ++n) {
        leader.process(); // drift terms in the voices, phases moved
    }
    leader.set_sample_rate(44100.0f);

    // Same count: the voices as they are, drift terms included.
    OscillatorBank same(7, 48000.0f);
    same.copy_tuning_from(leader);
    const OscillatorBank fresh7(7, 48000.0f);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(same.oscillators[i].frequency, leader.oscillators[i].frequency) << i;
        EXPECT_EQ(same.oscillators[i].phase_increment, leader.oscillators[i].phase_increment) << i;
        EXPECT_EQ(same.oscillators[i].phase, fresh7.oscillators[i].phase) << i;
        EXPECT_EQ(same.drift_phases[i], fresh7.drift_phases[i]) << i;
    }
    EXPECT_EQ(same.sample_rate, 44100.0f);
    EXPECT_EQ(same.drift, leader.drift);

    // Another count: this bank's own voices from the settings, no lane
    // beyond its count started.
    OscillatorBank other(4, 48000.0f);
    other.copy_tuning_from(leader);
    OscillatorBank expected(4, 44100.0f);
    expected.set_frequency(330.0f);
    expected.set_spread(0.6f);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(other.oscillators[i].frequency, expected.oscillators[i].frequency) << i;
        EXPECT_EQ(other.oscillators[i].phase_increment, expected.oscillators[i].phase_increment) << i;
    }
    expect_unused_lanes_zero(other);
}

TEST(Sin8, EveryLaneIsSin4BitForBit)
{
    if (OscillatorBank::fastest_kernel() != Kernel::Avx2) {
        GTEST_SKIP() << "this processor has no AVX2";
    }
    // A dense sweep over the oscillator range 0..2π, then a spread of
    // larger and negative arguments and special values.
    std::vector<float> xs;
    for (int i = 0; i < (1 << 20); ++i) {
        xs.push_back(dsp_kit::two_pi * static_cast<float>(i) / static_cast<float>(1 << 20));
    }
    std::mt19937 rng(99u);
    std::uniform_real_distribution<float> wide(-1.0e4f, 1.0e4f);
    for (int i = 0; i < 100000; ++i) {
        xs.push_back(wide(rng));
    }
    for (float x : {0.0f, -0.0f, 1.0e-30f, -1.0e-30f, std::numeric_limits<float>::denorm_min(),
                    std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN(), 3.0e9f, -3.0e9f}) {
        xs.push_back(x);
    }
    while (xs.size() % 8 != 0) {
        xs.push_back(1.0f);
    }
    for (std::size_t i = 0; i < xs.size(); i += 8) {
        alignas(32) float wide_out[8];
        alignas(16) float narrow_out[8];
        sin8_of(&xs[i], wide_out);
        _mm_store_ps(narrow_out, dsp_kit::sin4(_mm_loadu_ps(&xs[i])));
        _mm_store_ps(narrow_out + 4, dsp_kit::sin4(_mm_loadu_ps(&xs[i + 4])));
        for (std::size_t j = 0; j < 8; ++j) {
            ASSERT_EQ(bits(wide_out[j]), bits(narrow_out[j])) << "x = " << xs[i + j];
        }
    }
}
