#pragma once
// Field-by-field comparison of two carriers for the equivalence tests.

#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "plugin/dsp/carrier.hpp"

namespace tessellgrove::test {

// Every field of a carrier that the frame reads or writes.
inline void expect_same_carrier(const Carrier& a, const Carrier& b, const std::string& where)
{
    ASSERT_EQ(a.mode, b.mode) << where;
    ASSERT_EQ(a.frequency, b.frequency) << where;
    ASSERT_EQ(a.formant_position, b.formant_position) << where;
    ASSERT_EQ(a.formant_width, b.formant_width) << where;
    ASSERT_EQ(a.formant_morph_rate, b.formant_morph_rate) << where;
    ASSERT_EQ(a.stoch_spread, b.stoch_spread) << where;
    ASSERT_EQ(a.stoch_density, b.stoch_density) << where;
    ASSERT_EQ(a.stoch_smoothing, b.stoch_smoothing) << where;
    ASSERT_EQ(a.swarm_spread, b.swarm_spread) << where;
    ASSERT_EQ(a.swarm_drift, b.swarm_drift) << where;
    for (const auto* o : {&a.formant_oscillator, &a.stoch_oscillator}) {
        const auto& other = o == &a.formant_oscillator ? b.formant_oscillator : b.stoch_oscillator;
        ASSERT_EQ(o->phase, other.phase) << where;
        ASSERT_EQ(o->frequency, other.frequency) << where;
        ASSERT_EQ(o->phase_increment, other.phase_increment) << where;
    }
    ASSERT_EQ(a.morph_lfo.phase, b.morph_lfo.phase) << where;
    ASSERT_EQ(a.morph_lfo.phase_increment, b.morph_lfo.phase_increment) << where;
    ASSERT_EQ(a.sample_hold.phase, b.sample_hold.phase) << where;
    ASSERT_EQ(a.sample_hold.phase_increment, b.sample_hold.phase_increment) << where;
    ASSERT_EQ(a.sample_hold.held, b.sample_hold.held) << where;
    ASSERT_EQ(a.sample_hold.smoothed, b.sample_hold.smoothed) << where;
    ASSERT_EQ(a.sample_hold.rng_state, b.sample_hold.rng_state) << where;
    ASSERT_EQ(a.formant_filter.position, b.formant_filter.position) << where;
    ASSERT_EQ(a.formant_filter.last_position, b.formant_filter.last_position) << where;
    ASSERT_EQ(a.formant_filter.last_resonance, b.formant_filter.last_resonance) << where;
    for (std::size_t j = 0; j < 3; ++j) {
        const auto& s = a.formant_filter.sections[j];
        const auto& t = b.formant_filter.sections[j];
        ASSERT_EQ(s.b0, t.b0) << where;
        ASSERT_EQ(s.b2, t.b2) << where;
        ASSERT_EQ(s.a1, t.a1) << where;
        ASSERT_EQ(s.a2, t.a2) << where;
        ASSERT_EQ(s.z1, t.z1) << where;
        ASSERT_EQ(s.z2, t.z2) << where;
    }
    ASSERT_EQ(a.bank.size(), b.bank.size()) << where;
    ASSERT_EQ(a.bank.frequency, b.bank.frequency) << where;
    ASSERT_EQ(a.bank.spread, b.bank.spread) << where;
    ASSERT_EQ(a.bank.drift, b.bank.drift) << where;
    ASSERT_EQ(a.bank.drift_counter, b.bank.drift_counter) << where;
    for (std::size_t i = 0; i < a.bank.size(); ++i) {
        ASSERT_EQ(a.bank.oscillators[i].phase, b.bank.oscillators[i].phase) << where << " voice " << i;
        ASSERT_EQ(a.bank.oscillators[i].frequency, b.bank.oscillators[i].frequency) << where << " voice " << i;
        ASSERT_EQ(a.bank.oscillators[i].phase_increment, b.bank.oscillators[i].phase_increment) << where;
        ASSERT_EQ(a.bank.drift_phases[i], b.bank.drift_phases[i]) << where << " voice " << i;
    }
}

} // namespace tessellgrove::test
