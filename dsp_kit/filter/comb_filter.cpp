#include "dsp_kit/filter/comb_filter.hpp"

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

namespace {

// Loop filter limit: high enough to keep the comb bright, low enough to tame
// the top octave of the feedback.
constexpr float damping_limit_hz = 8000.0f;

// One comb's running state copied out for a run of samples.
struct CombRun {
    explicit CombRun(CombFilter& c) noexcept
        : comb(c)
        , buffer(c.delay_line.buffer.data())
        , length(c.delay_line.size())
        , write(c.delay_line.write_index)
        , tap(c.tap())
        , state(c.damping.state)
        , coefficient(c.damping.coefficient)
        , feedback(c.feedback)
        , mix(c.mix)
        , passes(c.mix <= 0.0f && c.feedback <= 0.0f)
    {
    }

    // CombFilter::process, step for step (DelayLine::read/write and
    // OnePole::process as low-pass inlined).
    float process(float x) noexcept
    {
        if (passes) {
            store(x);
            return x;
        }
        const std::size_t back = write + length - tap.whole - 1;
        const std::size_t i0 = back >= length ? back - length : back;
        const std::size_t i1 = i0 == 0 ? length - 1 : i0 - 1;
        const float d = buffer[i0] + (buffer[i1] - buffer[i0]) * tap.fraction;
        const float fed = feedback * d;
        state = (state - fed) * coefficient + fed;
        store(state + x);
        return d * mix + (1.0f - mix) * x;
    }

    void store(float x) noexcept
    {
        buffer[write] = x;
        write += 1;
        if (write >= length) {
            write = 0;
        }
    }

    // Puts the running state back.
    void finish() noexcept
    {
        comb.delay_line.write_index = write;
        comb.damping.state = state;
    }

    CombFilter& comb;
    float* buffer;
    std::size_t length;
    std::size_t write;
    DelayLine::Tap tap;
    float state;
    float coefficient;
    float feedback;
    float mix;
    bool passes;
};

} // namespace

void CombFilter::process_pair(CombFilter& a, float* xa, CombFilter& b, float* xb, std::size_t count) noexcept
{
    CombRun ra(a);
    CombRun rb(b);
    for (std::size_t i = 0; i < count; ++i) {
        xa[i] = ra.process(xa[i]);
        xb[i] = rb.process(xb[i]);
    }
    ra.finish();
    rb.finish();
}

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
