#pragma once
// DelayLine: circular buffer of floats with a fractional read.
//
// Sized for 50 ms: L = floor(0.05·sample_rate) + 1 samples (2206 at
// 44100 Hz, 2401 at 48000 Hz), at least 1. The buffer is the only heap
// storage; it is allocated by the constructor and set_sample_rate (never on
// the per-sample path). Copying copies the buffer; moving is cheap.
//
// read(delay) must come before the write of the same sample: it returns the
// value written delay + 1 writes ago (linearly interpolated), so a loop that
// reads, then writes, has a loop delay of delay + 1 samples.

#include <cstddef>
#include <vector>

namespace dsp_kit {

class DelayLine {
public:
    // Buffer length for a sample rate: floor(0.05·sr) + 1, at least 1 and at
    // most floor(0.05·max_sample_rate) + 1; non-finite or non-positive rates give 1.
    static std::size_t length_for(float sample_rate_hz) noexcept;
    // Highest sample rate the length rule follows (Hz); higher rates are sized as this.
    static constexpr float max_sample_rate = 1536000.0f;

    // 50 ms at 44100 Hz.
    DelayLine() : DelayLine(44100.0f) {}
    // Zeroed buffer of length_for(sample_rate_hz) samples, write index 0.
    explicit DelayLine(float sample_rate_hz);

    // Replaces the buffer with a zeroed one sized for sr; write index 0.
    void set_sample_rate(float sr);
    // Every sample to 0, write index 0; the length is kept.
    void reset() noexcept;

    // Buffer length L.
    std::size_t size() const noexcept { return buffer.size(); }

    // Where a read lands: whole samples back and the fraction towards the
    // slot before. Constant for a constant delay, so a run of reads at one
    // delay can work it out once.
    struct Tap {
        std::size_t whole = 0;
        float fraction = 0.0f;
    };

    // The tap of read(delay): delay limited to 0..L − 1, then split.
    Tap tap(float delay) const noexcept
    {
        const float longest = static_cast<float>(buffer.size() - 1);
        const float d = delay > 0.0f ? (delay < longest ? delay : longest) : 0.0f;
        const auto k = static_cast<std::size_t>(d);
        return {k, d - static_cast<float>(k)};
    }

    // Value written t.whole + 1 writes ago, interpolated by t.fraction
    // towards the slot written one write earlier.
    float read(const Tap& t) const noexcept
    {
        const std::size_t length = buffer.size();
        // write_index and t.whole are both in 0..L − 1, so the sum below is
        // in 0..2L − 2 and one conditional subtraction wraps it (no division
        // on the per-sample path); i1 is the slot before i0, circularly.
        const std::size_t back = write_index + length - t.whole - 1;
        const std::size_t i0 = back >= length ? back - length : back;
        const std::size_t i1 = i0 == 0 ? length - 1 : i0 - 1;
        return buffer[i0] + (buffer[i1] - buffer[i0]) * t.fraction;
    }

    // Value written delay + 1 writes ago; delay is limited to 0..L − 1 and its
    // fraction interpolates towards the slot written delay + 2 writes ago.
    float read(float delay) const noexcept { return read(tap(delay)); }

    // Stores x at the write index and advances it, wrapping at L.
    void write(float x) noexcept
    {
        buffer[write_index] = x;
        write_index += 1;
        if (write_index >= buffer.size()) {
            write_index = 0;
        }
    }

    std::vector<float> buffer;     // samples, L >= 1
    std::size_t write_index = 0;   // slot the next input goes to, 0..L − 1
};

} // namespace dsp_kit
