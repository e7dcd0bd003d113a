#pragma once
// Tempo-sync arithmetic shared by the engine and its parameter mapping:
// the division tables (beats per modulator cycle), the synced rate law and
// the conversion of the half-beat grid length to a whole sample count.
// Pure functions; safe on any thread.

#include <cstdint>

namespace tessellgrove {

// Beats per cycle of the lock-motion modulator for a `lock_motion_rate`
// index ("4 bars" = 16 ... "1/8T" = 1/3); an index outside 0..8 counts as 0.
float lock_motion_beats(int32_t index) noexcept;

// Beats per cycle for a `mode_cycle_div` / `trig_div` index ("1/4" = 1,
// "1/8" = 0.5, "1/16" = 0.25, "1/32" = 0.125); outside 0..3 counts as 0.
float division_beats(int32_t index) noexcept;

// Modulator rate in Hz for `beats` per cycle at `tempo` BPM:
// max((tempo / 60) / beats, 0.001).
float synced_rate_hz(float tempo, float beats) noexcept;

// Saturating float -> 32-bit unsigned conversion by truncation: negative
// values and NaN give 0, values above 4294967040 (the largest float below
// 2^32) give 4294967295.
uint32_t saturating_u32(float value) noexcept;

// Half a beat at `tempo` BPM, in samples: sample_rate * 60 / (2 * tempo),
// converted with `saturating_u32`.
uint32_t grid_period_samples(float sample_rate, float tempo) noexcept;

} // namespace tessellgrove
