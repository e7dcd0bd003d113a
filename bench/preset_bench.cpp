#include "bench/preset_bench.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "plugin/dsp/mapping.hpp"
#include "plugin/dsp/processor.hpp"
#include "plugin/dsp/tests/reference/mapping.hpp"
#include "plugin/dsp/tests/reference/processor.hpp"
#include "plugin/lib/tessellgrove.hpp"
#include "plugin_kit/plugin/denormals.hpp"
#include "plugin/presets/factory_presets.hpp"
#include "plugin_kit/plugin/plugin.hpp"

namespace tessellgrove::bench {

namespace {

constexpr float preset_rate = 48000.0f;
constexpr uint32_t preset_block = 512;
constexpr std::size_t noise_blocks = 8; // input cycles through this many blocks

// Applies a preset the way a preset load does: every normalised value
// through the parameter's own setter.
void apply_preset(TessellgroveParams& params, const TessellgrovePreset& preset)
{
    const std::vector<plugin_kit::ParamMapEntry> map = params.param_map();
    for (const auto& [id, value] : preset.to_param_values()) {
        if (const plugin_kit::ParamMapEntry* entry = plugin_kit::find_param_entry(map, id)) {
            entry->param->set_normalized_value(value);
        }
    }
}

// White noise at -6 dBFS from a fixed xorshift sequence.
std::vector<float> noise(std::size_t frames, uint32_t seed)
{
    std::vector<float> out(frames);
    uint32_t x = seed;
    for (float& v : out) {
        x ^= x << 13u;
        x ^= x >> 17u;
        x ^= x << 5u;
        v = (static_cast<float>(x) * 0x1p-32f * 2.0f - 1.0f) * 0.5f;
    }
    return out;
}

void bm_preset(benchmark::State& state, std::size_t index)
{
    const TessellgrovePreset& preset = FACTORY_PRESETS[index];
    auto instance = std::make_unique<Tessellgrove>();
    plugin_kit::BufferConfig config;
    config.sample_rate = preset_rate;
    config.max_buffer_size = preset_block;
    instance->initialize(plugin_kit::AudioIOLayout{}, config);
    instance->reset();
    apply_preset(*instance->tessellgrove_params(), preset);

    const std::vector<float> in_left = noise(preset_block * noise_blocks, 0x1234567u);
    const std::vector<float> in_right = noise(preset_block * noise_blocks, 0x7654321u);
    std::vector<float> left(preset_block);
    std::vector<float> right(preset_block);
    std::array<float*, 2> channels = {left.data(), right.data()};
    plugin_kit::AudioBuffer buffer{std::span<float* const>(channels), preset_block};
    plugin_kit::Transport transport;
    transport.playing = true;
    transport.tempo = 120.0;

    // Warm-up: the first block may rebuild the swarm banks.
    std::size_t block = 0;
    const auto run_block = [&]() {
        const std::size_t at = (block % noise_blocks) * preset_block;
        std::memcpy(left.data(), in_left.data() + at, preset_block * sizeof(float));
        std::memcpy(right.data(), in_right.data() + at, preset_block * sizeof(float));
        instance->process(buffer, transport);
        ++block;
    };
    run_block();
    for (auto _ : state) {
        run_block();
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_frame"] =
        benchmark::Counter(preset_block * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(preset_block / static_cast<double>(preset_rate),
                                                      benchmark::Counter::kIsIterationInvariantRate);
}

// The same preset on a bare engine, driven as the instance drives it, for
// the lever comparison: `Reference` is the straightforward scalar engine
// kept in the test tree, `TwoCarriers` the production engine with each
// carrier advanced on its own, `Frames` the production engine's shared
// carrier one frame at a time (everything but the block path).
enum class EngineKind { Reference, TwoCarriers, Frames };

template <EngineKind Kind>
void bm_preset_engine(benchmark::State& state, std::size_t index)
{
    using Processor = std::conditional_t<Kind == EngineKind::Reference, reference::TessellgroveProcessor,
                                         TessellgroveProcessor>;
    const plugin_kit::ScopedFlushDenormals ftz;
    TessellgroveParams params;
    apply_preset(params, FACTORY_PRESETS[index]);
    auto processor = std::make_unique<Processor>(44100.0f);
    processor->set_sample_rate(preset_rate);
    processor->reset();
    const std::vector<float> in_left = noise(preset_block * noise_blocks, 0x1234567u);
    const std::vector<float> in_right = noise(preset_block * noise_blocks, 0x7654321u);
    std::vector<float> left(preset_block);
    std::vector<float> right(preset_block);
    std::size_t block = 0;
    const auto run_block = [&]() {
        const std::size_t at = (block % noise_blocks) * preset_block;
        processor->set_playing(true);
        if constexpr (Kind == EngineKind::Reference) {
            reference::update_processor_params(params, 120.0f, *processor);
        } else {
            update_processor_params(params, 120.0f, *processor);
        }
        for (std::size_t i = 0; i < preset_block; ++i) {
            std::pair<float, float> out;
            if constexpr (Kind == EngineKind::Reference) {
                out = processor->process(in_left[at + i], in_right[at + i]);
            } else if constexpr (Kind == EngineKind::TwoCarriers) {
                out = processor->process_two_carriers(in_left[at + i], in_right[at + i]);
            } else {
                out = processor->process(in_left[at + i], in_right[at + i]);
            }
            left[i] = out.first;
            right[i] = out.second;
        }
        ++block;
    };
    run_block();
    for (auto _ : state) {
        run_block();
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_frame"] =
        benchmark::Counter(preset_block * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(preset_block / static_cast<double>(preset_rate),
                                                      benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

void register_preset_benchmarks()
{
    // Interleaved per preset, so the three figures of a preset are taken
    // close together in time on a shared machine.
    for (std::size_t i = 0; i < FACTORY_PRESETS.size(); ++i) {
        const std::string& name = FACTORY_PRESETS[i].name;
        benchmark::RegisterBenchmark(("preset/" + name).c_str(), bm_preset, i);
        benchmark::RegisterBenchmark(("preset_frames/" + name).c_str(), bm_preset_engine<EngineKind::Frames>, i);
        benchmark::RegisterBenchmark(("preset_two_carriers/" + name).c_str(),
                                     bm_preset_engine<EngineKind::TwoCarriers>, i);
        benchmark::RegisterBenchmark(("preset_reference/" + name).c_str(),
                                     bm_preset_engine<EngineKind::Reference>, i);
    }
}

void print_preset_summary(const std::map<std::string, double>& ns_per_frame, float sample_rate)
{
    const double frame_ns = 1e9 / static_cast<double>(sample_rate);
    const char* const kinds[] = {"preset/", "preset_frames/", "preset_two_carriers/", "preset_reference/"};
    constexpr std::size_t kind_count = std::size(kinds);
    std::vector<std::pair<double, std::string>> rows[kind_count];
    std::printf("\n%-22s %12s %12s   %12s %12s %12s\n", "factory preset", "ns/frame", "realtime_x", "frame path",
                "2-carrier", "reference");
    std::printf("%-22s %12s %12s   %12s %12s %12s\n", "", "(instance)", "(instance)", "ns/frame", "ns/frame",
                "ns/frame");
    for (const TessellgrovePreset& preset : FACTORY_PRESETS) {
        double t[kind_count] = {};
        for (std::size_t k = 0; k < kind_count; ++k) {
            const auto it = ns_per_frame.find(kinds[k] + preset.name);
            if (it != ns_per_frame.end()) {
                t[k] = it->second;
                rows[k].emplace_back(it->second, preset.name);
            }
        }
        if (t[0] > 0.0) {
            std::printf("%-22s %12.2f %12.1f   %12.2f %12.2f %12.2f\n", preset.name.c_str(), t[0], frame_ns / t[0],
                        t[1], t[2], t[3]);
        }
    }
    const char* const titles[] = {"instance (block path, shared carrier, all levers)",
                                  "engine, shared carrier frame by frame", "engine, two carriers frame by frame",
                                  "reference scalar engine"};
    for (std::size_t k = 0; k < kind_count; ++k) {
        std::vector<std::pair<double, std::string>>& r = rows[k];
        if (r.empty()) {
            continue;
        }
        std::sort(r.begin(), r.end());
        const std::size_t n = r.size();
        // Median of an even count: the mean of the two middle timings.
        const double median = n % 2 == 1 ? r[n / 2].first : 0.5 * (r[n / 2 - 1].first + r[n / 2].first);
        std::printf("%s:\n", titles[k]);
        std::printf("  worst  %-22s %9.2f ns/frame %9.1f x real time\n", r.back().second.c_str(), r.back().first,
                    frame_ns / r.back().first);
        std::printf("  median %-22s %9.2f ns/frame %9.1f x real time\n", "", median, frame_ns / median);
        std::printf("  best   %-22s %9.2f ns/frame %9.1f x real time\n", r.front().second.c_str(),
                    r.front().first, frame_ns / r.front().first);
    }
}

} // namespace tessellgrove::bench
