#pragma once
// Small measuring helpers shared by the dsp_kit tests.

#include <algorithm>
#include <cmath>
#include <vector>

namespace dsp_kit_test {

inline constexpr double pi = 3.14159265358979323846;

// Peak absolute value of `process(sine)` over the last `measure` samples of a
// sine at `hz` run for `settle + measure` samples at `sample_rate`: the
// steady-state gain of a linear block at that frequency.
template <typename Process>
double steady_state_gain(Process&& process, double hz, double sample_rate, int settle = 20000, int measure = 4000)
{
    double peak = 0.0;
    for (int n = 0; n < settle + measure; ++n) {
        const auto x = static_cast<float>(std::sin(2.0 * pi * hz * n / sample_rate));
        const float y = process(x);
        if (n >= settle) {
            peak = std::max(peak, static_cast<double>(std::fabs(y)));
        }
    }
    return peak;
}

// Runs `process` over `input` and returns the outputs.
template <typename Process>
std::vector<float> run(Process&& process, const std::vector<float>& input)
{
    std::vector<float> out;
    out.reserve(input.size());
    for (float x : input) {
        out.push_back(process(x));
    }
    return out;
}

// Deterministic noise in [-1, 1] for "reset equals fresh" comparisons.
inline std::vector<float> noise(std::size_t length, unsigned seed = 1u)
{
    std::vector<float> v(length);
    unsigned s = seed;
    for (float& x : v) {
        s = s * 1664525u + 1013904223u;
        x = static_cast<float>(s >> 8) / 8388608.0f - 1.0f;
    }
    return v;
}

} // namespace dsp_kit_test
