#pragma once
// Factory-preset benchmarks: every factory preset run through a complete
// plug-in instance (`Tessellgrove`) at 48 kHz in 512-frame blocks with the
// transport playing at 120 BPM, one parameter update per block and a fixed
// noise input. Registered as "preset/<name>"; beside each, the same preset
// on a bare engine running the two-carrier frame ("preset_two_carriers/")
// and on the reference scalar engine of the test tree ("preset_reference/"),
// so each lever's share shows in one run. The summary prints ns per frame
// and the real-time factor per preset with the worst, median and best.

#include <map>
#include <string>

namespace tessellgrove::bench {

// Registers one benchmark per factory preset.
void register_preset_benchmarks();

// Prints the per-preset table and worst / median / best from the recorded
// ns-per-frame figures (benchmark name -> ns per frame).
void print_preset_summary(const std::map<std::string, double>& ns_per_frame, float sample_rate);

} // namespace tessellgrove::bench
