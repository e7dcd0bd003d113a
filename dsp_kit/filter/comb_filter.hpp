#pragma once
// CombFilter: feedback comb tuned in Hz, low-pass in the loop, own dry/wet.
//
//   d = delay line read at `delay` (before this sample's write)
//   lp = OnePole low-pass of feedback·d (cutoff min(0.49·sr, 8000) Hz, fixed
//        at construction)
//   write lp + x;  output d·mix + (1 − mix)·x
//
// The read happens before the write, so the loop delay is `delay` + 1
// samples and the first resonance sits slightly below `frequency`
// (441 Hz at 44100 Hz gives a 101-sample loop, about 436.6 Hz). Feedback is
// limited to 0.95 and the loop low-pass keeps the loop gain below 1. With mix
// and feedback both at 0 the input passes unchanged while still filling the
// delay line. The delay buffer is the only heap storage (see DelayLine).

#include <cstddef>

#include "dsp_kit/delay/delay_line.hpp"
#include "dsp_kit/primitives/one_pole.hpp"

namespace dsp_kit {

class CombFilter {
public:
    // Built at 44100 Hz.
    CombFilter() : CombFilter(44100.0f) {}
    // Zeroed 50 ms buffer, tuning 440 Hz (delay 1 until the first set_frequency),
    // feedback 0, mix 0.
    explicit CombFilter(float sample_rate_hz);

    // feedback = clamp(x, 0, 0.95).
    void set_feedback(float x) noexcept;
    // frequency = clamp(hz, 20, 5000); delay = min(max(sample_rate/frequency, 1), L − 1).
    void set_frequency(float hz) noexcept;
    // mix = clamp(x, 0, 1), the wet share.
    void set_mix(float x) noexcept;
    // Reallocates the delay line (zeroed) for sr, recomputes the loop filter's
    // coefficient (its cutoff and state are kept) and re-derives the delay
    // from the stored tuning.
    void set_sample_rate(float sr);
    // Delay line and loop filter state to 0; settings kept.
    void reset() noexcept;

    // One sample (see above).
    float process(float x) noexcept { return process(x, tap()); }

    // Where this sample's read lands; the same for every sample until the
    // tuning or the sample rate changes.
    DelayLine::Tap tap() const noexcept { return delay_line.tap(delay); }
    // process(x) with the read position worked out beforehand by tap().
    float process(float x, const DelayLine::Tap& t) noexcept
    {
        if (mix <= 0.0f && feedback <= 0.0f) {
            delay_line.write(x);
            return x;
        }
        const float d = delay_line.read(t);
        const float lp = damping.process(feedback * d);
        delay_line.write(lp + x);
        return d * mix + (1.0f - mix) * x;
    }

    // Two combs over `count` samples each, in place, side by side: the same
    // as process() on every sample of `a` and of `b`, with the running state
    // (loop filter, write position) held in locals, where it stays in
    // registers and the two recursions overlap. `a` and `b` are distinct.
    static void process_pair(CombFilter& a, float* xa, CombFilter& b, float* xb, std::size_t count) noexcept;

    DelayLine delay_line;        // 50 ms loop memory
    float delay = 1.0f;          // read delay in samples, 1..L − 1 once tuned
    OnePole damping;             // low-pass in the feedback path
    float sample_rate;           // Hz
    float frequency = 440.0f;    // tuning, Hz, 20..5000 once set
    float period;                // sample_rate / frequency, before limiting
    float feedback = 0.0f;       // 0..0.95
    float mix = 0.0f;            // wet share 0..1

private:
    void update_delay() noexcept;
};

} // namespace dsp_kit
