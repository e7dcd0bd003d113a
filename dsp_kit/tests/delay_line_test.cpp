// DelayLine::read against the plain modulo indexing it replaces, over every
// whole delay, fractional and out-of-range delays, and write positions all
// around the buffer.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "dsp_kit/delay/delay_line.hpp"

namespace {

// The read written out with two modulo operations.
float modulo_read(const dsp_kit::DelayLine& line, float delay)
{
    const std::size_t length = line.buffer.size();
    const float longest = static_cast<float>(length - 1);
    const float d = delay > 0.0f ? (delay < longest ? delay : longest) : 0.0f;
    const auto k = static_cast<std::size_t>(d);
    const float fraction = d - static_cast<float>(k);
    const std::size_t i0 = (line.write_index + length - k - 1) % length;
    const std::size_t i1 = (i0 + length - 1) % length;
    return line.buffer[i0] + (line.buffer[i1] - line.buffer[i0]) * fraction;
}

TEST(DelayLine, ReadMatchesModuloIndexingEverywhere)
{
    // Sample rates giving L = 1, 2, 6 and 2206.
    for (float rate : {10.0f, 20.0f, 100.0f, 44100.0f}) {
        dsp_kit::DelayLine line(rate);
        const std::size_t length = line.size();
        // Write counts that leave the write index at 0, 1, L − 1 and in
        // between, before and after the first wrap.
        std::size_t written = 0;
        for (std::size_t target : {std::size_t{0}, std::size_t{1}, length - 1, length, length + 1, 3 * length + 2,
                                   7 * length + length / 2}) {
            while (written < target) {
                // Distinct values, so a wrong slot cannot give the right one.
                line.write(static_cast<float>(written % 1009) * 0.37f - 50.0f);
                ++written;
            }
            SCOPED_TRACE(testing::Message() << "L " << length << " writes " << written);
            for (std::size_t k = 0; k < length; ++k) {
                for (float fraction : {0.0f, 0.25f, 0.999f}) {
                    const float delay = static_cast<float>(k) + fraction;
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(line.read(delay)),
                              std::bit_cast<std::uint32_t>(modulo_read(line, delay)))
                        << "delay " << delay;
                }
            }
            for (float delay : {-1.0f, -0.0f, static_cast<float>(length) - 0.5f, static_cast<float>(length) + 5.0f,
                                1e30f, std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN()}) {
                ASSERT_EQ(std::bit_cast<std::uint32_t>(line.read(delay)),
                          std::bit_cast<std::uint32_t>(modulo_read(line, delay)))
                    << "delay " << delay;
            }
        }
    }
}

} // namespace
