#include "dsp_kit/primitives/envelope_follower.hpp"

#include <cmath>

namespace dsp_kit {

EnvelopeFollower::EnvelopeFollower(float sample_rate_hz, float attack_time_ms, float release_time_ms) noexcept
    : sample_rate(sample_rate_hz)
    , attack_ms(attack_time_ms)
    , release_ms(release_time_ms)
    , attack_coefficient(coefficient_for(attack_time_ms, sample_rate_hz))
    , release_coefficient(coefficient_for(release_time_ms, sample_rate_hz))
{
}

float EnvelopeFollower::coefficient_for(float time_ms, float sample_rate_hz) noexcept
{
    if (time_ms > 0.0f) {
        return std::exp(-1.0f / (time_ms * 0.001f * sample_rate_hz));
    }
    return 0.0f;
}

void EnvelopeFollower::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    attack_coefficient = coefficient_for(attack_ms, sr);
    release_coefficient = coefficient_for(release_ms, sr);
}

void EnvelopeFollower::set_attack(float ms) noexcept
{
    attack_ms = ms;
    attack_coefficient = coefficient_for(ms, sample_rate);
}

void EnvelopeFollower::set_release(float ms) noexcept
{
    release_ms = ms;
    release_coefficient = coefficient_for(ms, sample_rate);
}

} // namespace dsp_kit
