#include "dsp_kit/filter/comb_filter.hpp"

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

namespace {

// Loop filter limit: high enough to keep the comb bright, low enough to tame
// the top octave of the feedback.
constexpr float damping_limit_hz = 8000.0f;

} // namespace

CombFilter::CombFilter(float sample_rate_hz)
    : delay_line(sample_rate_hz)
    , damping(sample_rate_hz, damping_limit_hz, false)
    , sample_rate(sample_rate_hz)
    , period(sample_rate_hz / 440.0f)
{
}

void CombFilter::set_feedback(float x) noexcept
{
    feedback = clamp(x, 0.0f, 0.95f);
}

void CombFilter::set_frequency(float hz) noexcept
{
    frequency = clamp(hz, 20.0f, 5000.0f);
    update_delay();
}

void CombFilter::set_mix(float x) noexcept
{
    mix = clamp(x, 0.0f, 1.0f);
}

void CombFilter::set_sample_rate(float sr)
{
    sample_rate = sr;
    delay_line.set_sample_rate(sr);
    damping.set_sample_rate(sr);
    update_delay();
}

void CombFilter::reset() noexcept
{
    delay_line.reset();
    damping.reset();
}

void CombFilter::update_delay() noexcept
{
    period = sample_rate / frequency;
    const float longest = static_cast<float>(delay_line.size() - 1);
    const float at_least_one = period > 1.0f ? period : 1.0f;
    delay = at_least_one < longest ? at_least_one : longest;
}

} // namespace dsp_kit
