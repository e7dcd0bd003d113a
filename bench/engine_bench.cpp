// Engine cost per stereo frame at 48 kHz, in 512-frame blocks with one
// parameter update per block (as the plug-in runs it), for a set of
// scenarios. Beside each, a floor: a loop that evaluates, with scalar
// sinf / tanhf, only the distinct transcendental values the scenario needs
// per frame, counted by observing the engine itself. The two carriers hold
// the same state and so produce the same signal: each carrier sine counts
// once. The engine/floor ratio tells how much the rest of the path
// (filters, comb, bookkeeping) costs on top of that work.
//
// The same program runs every factory preset through a whole plug-in
// instance (preset_bench.cpp) and reports the instance's heap footprint
// (heap_footprint.cpp), so all figures come from one run, side by side.
//
// Counters: ns_per_frame, realtime_x (seconds of 48 kHz audio per second of
// CPU time), and for floors sin_per_frame / tanh_per_frame. A summary table
// with the ratios follows the usual output.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <emmintrin.h>

#include "bench/heap_footprint.hpp"
#include "bench/preset_bench.hpp"
#include "plugin/dsp/mapping.hpp"
#include "plugin_kit/plugin/denormals.hpp"
#include "plugin/dsp/processor.hpp"
#include "plugin/params/tessellgrove_params.hpp"
#include "dsp_kit/primitives/soft_clip.hpp"
#include "dsp_kit/primitives/tanh.hpp"
#include "dsp_kit/saturation/saturator.hpp"
#include "dsp_kit/saturation/wavefolder.hpp"

namespace {

using tessellgrove::TessellgroveParams;
using tessellgrove::TessellgroveProcessor;

constexpr float bench_rate = 48000.0f;
constexpr int block_frames = 512;
constexpr float bench_tempo = 120.0f;

struct Scenario {
    const char* name;
    void (*configure)(TessellgroveParams&);
};

void set_swarm16(TessellgroveParams& p)
{
    p.carrier_mode.set_plain_value(2);
    p.swarm_count.set_plain_value(16);
    p.swarm_drift.set_plain_value(1.0f);
    p.swarm_spread.set_plain_value(0.5f);
}

const Scenario scenarios[] = {
    {"default", [](TessellgroveParams&) {}},
    {"formant", [](TessellgroveParams& p) { p.carrier_mode.set_plain_value(0); }},
    {"stoch", [](TessellgroveParams& p) {
         p.carrier_mode.set_plain_value(1);
         p.stoch_spread.set_plain_value(0.6f);
         p.stoch_density.set_plain_value(0.8f);
     }},
    {"swarm16_drift1", set_swarm16},
    {"formant_sweep_4hz", [](TessellgroveParams& p) {
         p.carrier_mode.set_plain_value(0);
         p.formant_morph_rate.set_plain_value(4.0f);
     }},
    {"char_grit", [](TessellgroveParams& p) { p.char_mode.set_plain_value(1); }},
    {"char_warm", [](TessellgroveParams& p) { p.char_mode.set_plain_value(2); }},
    {"char_fold", [](TessellgroveParams& p) {
         p.char_mode.set_plain_value(3);
         p.char_amount.set_plain_value(0.9f);
     }},
    {"comb_on", [](TessellgroveParams& p) {
         p.comb_feedback.set_plain_value(0.8f);
         p.comb_mix.set_plain_value(0.5f);
         p.comb_tuning.set_plain_value(220.0f);
     }},
    {"gate_on", [](TessellgroveParams& p) {
         p.trig_amount.set_plain_value(0.8f);
         p.trig_div.set_plain_value(2);
     }},
    {"everything_on", [](TessellgroveParams& p) {
         set_swarm16(p);
         p.mode_cycle_enable.set_plain_value(true);
         p.mode_cycle_div.set_plain_value(3);
         p.lock_motion_enable.set_plain_value(true);
         p.lock_motion_depth.set_plain_value(0.7f);
         p.lock_motion_shape.set_plain_value(0);
         p.carrier_env_amount.set_plain_value(0.6f);
         p.formant_morph_rate.set_plain_value(4.0f);
         p.stoch_smoothing.set_plain_value(0.5f);
         p.char_mode.set_plain_value(2);
         p.comb_feedback.set_plain_value(0.8f);
         p.comb_mix.set_plain_value(0.5f);
         p.trig_amount.set_plain_value(0.8f);
     }},
};

// An engine at 48 kHz with a scenario's settings and one block of input.
struct Rig {
    explicit Rig(const Scenario& s) : processor(44100.0f)
    {
        s.configure(params);
        processor.set_sample_rate(bench_rate);
        processor.reset();
        // One update with the transport stopped, so the character mode is in
        // force from the first frame instead of waiting for the grid.
        processor.set_playing(false);
        tessellgrove::update_processor_params(params, bench_tempo, processor);
        for (int i = 0; i < block_frames; ++i) {
            const float t = static_cast<float>(i);
            in_left.push_back(0.5f * std::sin(0.031f * t) + 0.1f * std::sin(0.47f * t));
            in_right.push_back(0.4f * std::sin(0.023f * t + 1.0f));
        }
        out_left.resize(block_frames);
        out_right.resize(block_frames);
    }

    // One block; `two_carriers` runs the frame that advances each carrier
    // on its own instead of the shared-carrier frame.
    void block(bool two_carriers = false) noexcept
    {
        processor.set_playing(true);
        tessellgrove::update_processor_params(params, bench_tempo, processor);
        if (!two_carriers) {
            // As the instance runs it: the block path, in place.
            std::copy(in_left.begin(), in_left.end(), out_left.begin());
            std::copy(in_right.begin(), in_right.end(), out_right.begin());
            processor.process_block(out_left.data(), out_right.data(), out_left.size());
            return;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(block_frames); ++i) {
            const auto [l, r] = processor.process_two_carriers(in_left[i], in_right[i]);
            out_left[i] = l;
            out_right[i] = r;
        }
    }

    TessellgroveParams params;
    TessellgroveProcessor processor;
    std::vector<float> in_left, in_right, out_left, out_right;
};

// Transcendental calls per frame, averaged over a run of the engine.
struct Cost {
    double sin_per_frame = 0.0; // sinf and cosf
    double tanh_per_frame = 0.0;
};

// Counts what the engine needs by watching its state frame by frame: one
// sine per running carrier oscillator, one per sine modulator step, one
// more sine per voice at each drift update, a sine and a cosine per formant
// section at each coefficient recompute, and two tanh per frame in "Warm".
// Carrier work counts once: both carriers compute the same values.
Cost measure_cost(const Scenario& s)
{
    const plugin_kit::ScopedFlushDenormals ftz;
    Rig rig(s);
    TessellgroveProcessor& p = rig.processor;
    constexpr int blocks = 200;
    double sines = 0.0;
    double tanhs = 0.0;
    const auto formant_key = [](const tessellgrove::Carrier& c) {
        return std::make_pair(c.formant_filter.last_position, c.formant_filter.last_resonance);
    };
    for (int b = 0; b < blocks; ++b) {
        auto key = formant_key(p.carrier_left);
        p.set_playing(true);
        tessellgrove::update_processor_params(rig.params, bench_tempo, p);
        for (int i = 0; i < block_frames; ++i) {
            if (formant_key(p.carrier_left) != key) {
                sines += 6.0; // mapping recomputed the (shared) filter coefficients
                key = formant_key(p.carrier_left);
            }
            const bool lock_runs = p.lock_motion_enabled && p.lock_depth > 0.001f;
            const bool warm = p.character_mode == 2;
            p.process(rig.in_left[static_cast<std::size_t>(i)], rig.in_right[static_cast<std::size_t>(i)]);
            const tessellgrove::Carrier& c = p.carrier_left;
            double per_carrier = 0.0;
            switch (c.mode) {
            case 2:
                per_carrier += static_cast<double>(c.bank.size());
                if (c.bank.drift > 0.0f && c.bank.drift_counter == 0) {
                    per_carrier += static_cast<double>(c.bank.size());
                }
                break;
            case 1: per_carrier += 1.0; break;
            default:
                per_carrier += 1.0;
                if (c.formant_morph_rate > 0.001f) {
                    per_carrier += 1.0;
                }
                break;
            }
            if (formant_key(c) != key) {
                per_carrier += 6.0;
                key = formant_key(c);
            }
            sines += per_carrier;
            if (lock_runs && p.lock_lfo.shape == 0) {
                sines += 1.0;
            }
            if (warm) {
                tanhs += 2.0;
            }
        }
    }
    const double frames = static_cast<double>(blocks) * block_frames;
    return {sines / frames, tanhs / frames};
}

void set_frame_counters(benchmark::State& state)
{
    state.counters["ns_per_frame"] =
        benchmark::Counter(block_frames * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(block_frames / static_cast<double>(bench_rate),
                                                      benchmark::Counter::kIsIterationInvariantRate);
}

void run_engine(benchmark::State& state, const Scenario* s, bool two_carriers)
{
    const plugin_kit::ScopedFlushDenormals ftz; // as the plug-in runs the engine
    Rig rig(*s);
    rig.block(two_carriers); // first update may rebuild the banks
    for (auto _ : state) {
        rig.block(two_carriers);
        benchmark::DoNotOptimize(rig.out_left.data());
        benchmark::DoNotOptimize(rig.out_right.data());
        benchmark::ClobberMemory();
    }
    set_frame_counters(state);
}

void bm_engine(benchmark::State& state, const Scenario* s) { run_engine(state, s, false); }
void bm_engine_two_carriers(benchmark::State& state, const Scenario* s) { run_engine(state, s, true); }

// Evaluates `cost` transcendental calls per frame on changing arguments;
// fractional counts are spread over frames with an accumulator.
void bm_floor(benchmark::State& state, const Scenario* s)
{
    const plugin_kit::ScopedFlushDenormals ftz;
    const Cost cost = measure_cost(*s);
    float phase = 0.0f;
    double sin_debt = 0.0;
    double tanh_debt = 0.0;
    float sink = 0.0f;
    for (auto _ : state) {
        for (int i = 0; i < block_frames; ++i) {
            sin_debt += cost.sin_per_frame;
            tanh_debt += cost.tanh_per_frame;
            while (sin_debt >= 1.0) {
                phase += 0.0137f;
                if (phase >= 1.0f) {
                    phase -= 1.0f;
                }
                sink += std::sin(6.2831855f * phase);
                sin_debt -= 1.0;
            }
            while (tanh_debt >= 1.0) {
                phase += 0.0137f;
                if (phase >= 1.0f) {
                    phase -= 1.0f;
                }
                sink += std::tanh(4.0f * phase - 2.0f);
                tanh_debt -= 1.0;
            }
            benchmark::DoNotOptimize(sink);
        }
    }
    set_frame_counters(state);
    state.counters["sin_per_frame"] = cost.sin_per_frame;
    state.counters["tanh_per_frame"] = cost.tanh_per_frame;
}

// Kernel micro-benchmarks: the scalar and SSE2 forms of the saturation
// kernels over one buffer of arguments spread across [−span, span], with
// the counter ns_per_value. The scalar forms run one value per call, the
// vector forms four.
constexpr std::size_t kernel_values = 1024;

std::vector<float> kernel_inputs(float span)
{
    std::vector<float> xs(kernel_values);
    for (std::size_t i = 0; i < kernel_values; ++i) {
        xs[i] = span * std::sin(0.7f * static_cast<float>(i) + 0.3f * static_cast<float>(i % 13));
    }
    return xs;
}

void set_value_counter(benchmark::State& state)
{
    state.counters["ns_per_value"] = benchmark::Counter(
        static_cast<double>(kernel_values) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <typename Kernel>
void bm_kernel_scalar(benchmark::State& state, float span, Kernel kernel)
{
    const std::vector<float> in = kernel_inputs(span);
    std::vector<float> out(kernel_values);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kernel_values; ++i) {
            out[i] = kernel(in[i]);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_value_counter(state);
}

template <typename Kernel>
void bm_kernel_vector(benchmark::State& state, float span, Kernel kernel)
{
    const std::vector<float> in = kernel_inputs(span);
    std::vector<float> out(kernel_values);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kernel_values; i += 4) {
            _mm_storeu_ps(&out[i], kernel(_mm_loadu_ps(&in[i])));
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_value_counter(state);
}

void register_kernel_benchmarks()
{
    static const dsp_kit::Wavefolder folder(0.9f, 2, 1.0f);
    static const dsp_kit::Saturator saturator(dsp_kit::SaturatorCurve::Tanh, 0.7f, 1.0f);
    benchmark::RegisterBenchmark("kernel/tanh_std", [](benchmark::State& st) {
        bm_kernel_scalar(st, 4.0f, [](float x) { return std::tanh(x); });
    });
    benchmark::RegisterBenchmark("kernel/tanh1", [](benchmark::State& st) {
        bm_kernel_scalar(st, 4.0f, [](float x) { return dsp_kit::tanh1(x); });
    });
    benchmark::RegisterBenchmark("kernel/tanh4", [](benchmark::State& st) {
        bm_kernel_vector(st, 4.0f, [](__m128 x) { return dsp_kit::tanh4(x); });
    });
    benchmark::RegisterBenchmark("kernel/saturator_process", [](benchmark::State& st) {
        bm_kernel_scalar(st, 1.5f, [](float x) { return saturator.process(x); });
    });
    benchmark::RegisterBenchmark("kernel/saturator_process1", [](benchmark::State& st) {
        bm_kernel_scalar(st, 1.5f, [](float x) { return saturator.process1(x); });
    });
    benchmark::RegisterBenchmark("kernel/saturator_process4", [](benchmark::State& st) {
        bm_kernel_vector(st, 1.5f, [](__m128 x) { return saturator.process4(x); });
    });
    benchmark::RegisterBenchmark("kernel/wavefolder_process", [](benchmark::State& st) {
        bm_kernel_scalar(st, 1.5f, [](float x) { return folder.process(x); });
    });
    benchmark::RegisterBenchmark("kernel/wavefolder_process4", [](benchmark::State& st) {
        bm_kernel_vector(st, 1.5f, [](__m128 x) { return folder.process4(x); });
    });
    benchmark::RegisterBenchmark("kernel/soft_clip", [](benchmark::State& st) {
        bm_kernel_scalar(st, 4.0f, [](float x) { return dsp_kit::soft_clip(x); });
    });
    benchmark::RegisterBenchmark("kernel/soft_clip4", [](benchmark::State& st) {
        bm_kernel_vector(st, 4.0f, [](__m128 x) { return dsp_kit::soft_clip4(x); });
    });
}

// Console output as usual, except that the per-frame and per-value counters
// are shown as plain numbers (the library would print the rate-derived values with
// "s" and "/s" suffixes), and the ns_per_frame of every run is kept for the
// summary table. File output (--benchmark_out) keeps the library's form.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown = runs;
        for (Run& run : shown) {
            for (const char* name : {"ns_per_frame", "realtime_x", "ns_per_value"}) {
                const auto it = run.counters.find(name);
                if (it != run.counters.end()) {
                    it->second = benchmark::Counter(it->second.value);
                }
            }
            // With --benchmark_repetitions the median of the repetitions is
            // kept; otherwise the single run.
            const auto it = run.counters.find("ns_per_frame");
            const std::string name = run.run_name.str();
            if (it != run.counters.end()) {
                if (run.run_type == Run::RT_Iteration && median_seen.count(name) == 0) {
                    ns_per_frame[name] = it->second.value;
                } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                    ns_per_frame[name] = it->second.value;
                    median_seen.insert(name);
                }
            }
            const auto sin = run.counters.find("sin_per_frame");
            if (sin != run.counters.end() && run.run_type == Run::RT_Iteration && name.rfind("floor/", 0) == 0) {
                sin_per_frame[name.substr(6)] = sin->second.value;
            }
        }
        ConsoleReporter::ReportRuns(shown);
    }
    std::map<std::string, double> ns_per_frame;
    std::map<std::string, double> sin_per_frame; // by scenario name
    std::set<std::string> median_seen;
};

} // namespace

int main(int argc, char** argv)
{
    for (const Scenario& s : scenarios) {
        benchmark::RegisterBenchmark((std::string("engine/") + s.name).c_str(), bm_engine, &s);
        benchmark::RegisterBenchmark((std::string("floor/") + s.name).c_str(), bm_floor, &s);
        benchmark::RegisterBenchmark((std::string("engine_two_carriers/") + s.name).c_str(),
                                     bm_engine_two_carriers, &s);
    }
    tessellgrove::bench::register_preset_benchmarks();
    register_kernel_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-20s %12s %12s %10s %12s %12s %12s\n", "scenario", "engine ns/f", "floor ns/f", "ratio",
                "realtime_x", "sin/frame", "2-carr ns/f");
    for (const Scenario& s : scenarios) {
        const auto engine = reporter.ns_per_frame.find(std::string("engine/") + s.name);
        const auto floor = reporter.ns_per_frame.find(std::string("floor/") + s.name);
        if (engine == reporter.ns_per_frame.end() || floor == reporter.ns_per_frame.end()) {
            continue;
        }
        const double frame_ns = 1e9 / static_cast<double>(bench_rate);
        const auto two = reporter.ns_per_frame.find(std::string("engine_two_carriers/") + s.name);
        std::printf("%-20s %12.2f %12.2f %10.2f %12.1f %12.2f %12.2f\n", s.name, engine->second, floor->second,
                    engine->second / floor->second, frame_ns / engine->second, reporter.sin_per_frame[s.name],
                    two == reporter.ns_per_frame.end() ? 0.0 : two->second);
    }
    tessellgrove::bench::print_preset_summary(reporter.ns_per_frame, bench_rate);

    const tessellgrove::bench::HeapFootprint heap = tessellgrove::bench::measure_instance_footprint();
    std::printf("\ninstance heap footprint (counting allocator): %zu allocations, %zu bytes requested by "
                "the constructor; %zu bytes live after initialize(48 kHz) (%zu allocations there); "
                "sizeof(Tessellgrove) = %zu; mallinfo2 in-use delta %ld bytes\n",
                heap.construct_allocations, heap.construct_bytes, heap.live_bytes, heap.activate_allocations,
                heap.instance_size, heap.mallinfo_bytes);
    benchmark::Shutdown();
    return 0;
}
