// The built library probed the way real hosts and plug-in validators probe
// it, through CLAP and VST3 alike: buffer layouts, empty blocks, block sizes
// and sample-accurate automation, sample rates, re-activation and reset,
// sample sizes, flushing while inactive, junk state, the caller's
// floating-point control state and the process locale. Then calls in orders
// and with pointers a host should not use, through the raw interfaces.

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin_kit/host/clap_host.hpp"
#include "plugin_kit/host/vst3_host.hpp"
#include "plugin_kit/params/param_id.hpp"

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <initializer_list>
#include <locale>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace plugin_kit::host;
namespace clap = plugin_kit::clap_abi;
namespace vst = plugin_kit::vst3_abi;

const std::string library_path = TESSELLGROVE_LIBRARY;

std::unique_ptr<HostedPlugin> load(PluginFormat format) {
    LoadResult loaded = load_plugin(library_path, format);
    EXPECT_TRUE(loaded.plugin) << loaded.error;
    return std::move(loaded.plugin);
}

uint32_t pid(std::string_view id) { return plugin_kit::param_id_hash(id); }

// The value `text` means to the format (plain for CLAP, normalised for VST3).
double value_of(const HostedPlugin& plugin, std::string_view id, std::string_view text) {
    const auto value = plugin.text_to_value(pid(id), text);
    EXPECT_TRUE(value) << id << "=" << text;
    return value.value_or(0.0);
}

// Every parameter at the top of its range: every carrier, character and
// comb stage at full strength, the swarm mode, motion and cycling on.
void everything_on(HostedPlugin& plugin) {
    for (const HostParamInfo& p : plugin.params()) {
        ASSERT_TRUE(plugin.set_param(p.id, p.max)) << p.name;
    }
}

using Stereo = std::vector<std::vector<float>>;

Stereo noise(uint32_t frames, uint32_t seed, float level = 0.5f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-level, level);
    Stereo out(2, std::vector<float>(frames));
    for (uint32_t i = 0; i < frames; ++i) {
        out[0][i] = dist(rng);
        out[1][i] = dist(rng);
    }
    return out;
}

// A parameter change at an absolute sample time of a render.
struct Automation {
    uint64_t time;
    uint32_t id;
    double value;
};

// Renders `input` through an active `plugin` in blocks of the given sizes
// (the last repeated), in place unless `separate`, delivering `automation`
// in the block holding each time at its offset there.
Stereo render(HostedPlugin& plugin, const Stereo& input, const std::vector<uint32_t>& blocks,
              const std::vector<Automation>& automation = {}, bool separate = false,
              HostTransport transport = HostTransport{true, 120.0}) {
    const auto frames = static_cast<uint32_t>(input[0].size());
    Stereo out = separate ? Stereo(2, std::vector<float>(frames, 7.0f)) : input;
    Stereo in = input;
    size_t next_block = 0;
    size_t next_change = 0;
    for (uint32_t start = 0; start < frames;) {
        const uint32_t n = std::min(blocks[std::min(next_block++, blocks.size() - 1)], frames - start);
        for (; next_change < automation.size() && automation[next_change].time < start + n; ++next_change) {
            const Automation& a = automation[next_change];
            EXPECT_TRUE(plugin.set_param_at(a.id, a.value, static_cast<uint32_t>(a.time - start)));
        }
        float* ins[] = {(separate ? in : out)[0].data() + start, (separate ? in : out)[1].data() + start};
        float* outs[] = {out[0].data() + start, out[1].data() + start};
        EXPECT_TRUE(plugin.process(ins, outs, n, transport));
        start += n;
    }
    return out;
}

// Block sizes from 1 to `max_block`, 1-frame blocks among them.
std::vector<uint32_t> random_blocks(uint32_t max_block, uint32_t seed, uint32_t frames) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> sizes;
    for (uint32_t total = 0; total < frames;) {
        const uint32_t n = rng() % 4 == 0 ? 1u : 1u + static_cast<uint32_t>(rng() % max_block);
        sizes.push_back(n);
        total += n;
    }
    return sizes;
}

std::string format_case_name(const ::testing::TestParamInfo<PluginFormat>& info) {
    return std::string(format_name(info.param));
}

class Validator : public ::testing::TestWithParam<PluginFormat> {};

// --- buffers and blocks ----------------------------------------------------------------

TEST_P(Validator, SeparateAndInPlaceBuffersGiveTheSameOutput) {
    const Stereo input = noise(8192, 3);
    Stereo outputs[2];
    for (const bool separate : {false, true}) {
        const auto plugin = load(GetParam());
        ASSERT_TRUE(plugin);
        everything_on(*plugin);
        ASSERT_TRUE(plugin->activate(48000.0, 512));
        outputs[separate ? 1 : 0] = render(*plugin, input, {512}, {}, separate);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_NE(outputs[0], input) << "the effect is at work";
}

TEST_P(Validator, EmptyBlocksSucceedAndStillApplyParameterChanges) {
    // Changes sent with an empty block, then audio, sound as the same
    // changes sent with the audio's first block.
    const Stereo input = noise(1024, 9);
    enum class Empty { ZeroFrames, Vst3NoBuses, Vst3ZeroChannels };
    for (const Empty empty : {Empty::ZeroFrames, Empty::Vst3NoBuses, Empty::Vst3ZeroChannels}) {
        if (empty != Empty::ZeroFrames && GetParam() != PluginFormat::Vst3) {
            continue;
        }
        const auto plugin = load(GetParam());
        const auto reference = load(GetParam());
        ASSERT_TRUE(plugin && reference);
        ASSERT_TRUE(plugin->activate(48000.0, 256));
        ASSERT_TRUE(reference->activate(48000.0, 256));
        for (HostedPlugin* p : {plugin.get(), reference.get()}) {
            ASSERT_TRUE(p->set_param(pid("mix"), value_of(*p, "mix", "20")));
            ASSERT_TRUE(p->set_param(pid("char_mode"), value_of(*p, "char_mode", "Warm")));
        }
        if (empty == Empty::ZeroFrames) {
            float left = 0.0f, right = 0.0f;
            float* io[] = {&left, &right};
            EXPECT_TRUE(plugin->process(io, io, 0, HostTransport{true, 120.0}));
        } else {
            auto& vst3 = dynamic_cast<Vst3HostedPlugin&>(*plugin);
            // The same transport as the audio that follows: a character-mode
            // change lands at once only while the transport is stopped.
            EXPECT_EQ(vst3.process_without_audio(0,
                                                 empty == Empty::Vst3NoBuses ? Vst3HostedPlugin::NoAudio::NoBuses
                                                                             : Vst3HostedPlugin::NoAudio::ZeroChannels,
                                                 HostTransport{true, 120.0}),
                      vst::kResultOk);
        }
        const Stereo out = render(*plugin, input, {256});
        EXPECT_EQ(out, render(*reference, input, {256})) << "empty block " << static_cast<int>(empty);
        EXPECT_NE(out, input);
    }
}

TEST_P(Validator, ABlockSplitAnyWayGivesBitIdenticalOutput) {
    constexpr uint32_t frames = 16384;
    const Stereo input = noise(frames, 21);
    const auto reference_plugin = load(GetParam());
    ASSERT_TRUE(reference_plugin);
    // Automation: steps of several kinds at fixed sample times, in time order.
    const HostedPlugin& p = *reference_plugin;
    const std::vector<Automation> automation = {
        {0, pid("mix"), value_of(p, "mix", "50")},
        {1, pid("comb_tuning"), value_of(p, "comb_tuning", "0.2")},
        {777, pid("char_mode"), value_of(p, "char_mode", "Grit")},
        {777, pid("mix"), value_of(p, "mix", "90")},
        {4096, pid("carrier_mode"), value_of(p, "carrier_mode", "Stoch")},
        {9001, pid("lock_freq"), value_of(p, "lock_freq", "1234")},
        {12000, pid("carrier_mode"), value_of(p, "carrier_mode", "Formant")},
        {16383, pid("output_gain"), value_of(p, "output_gain", "-6")},
    };
    const auto prepare = [&](HostedPlugin& plugin, uint32_t max_block) {
        everything_on(plugin);
        // Swarm drift offsets restart with every block by design.
        ASSERT_TRUE(plugin.set_param(pid("swarm_drift"), value_of(plugin, "swarm_drift", "0")));
        ASSERT_TRUE(plugin.activate(48000.0, max_block));
    };
    prepare(*reference_plugin, frames);
    const Stereo reference = render(*reference_plugin, input, {frames}, automation);

    struct Split {
        uint32_t max_block;
        bool random;
    };
    for (const Split split : {Split{1, false}, Split{64, false}, Split{4096, false}, Split{16384, true},
                              Split{64, true}, Split{4096, true}}) {
        const auto plugin = load(GetParam());
        ASSERT_TRUE(plugin);
        prepare(*plugin, split.max_block);
        const std::vector<uint32_t> blocks =
            split.random ? random_blocks(split.max_block, split.max_block, frames) : std::vector{split.max_block};
        const Stereo out = render(*plugin, input, blocks, automation);
        for (size_t c = 0; c < 2; ++c) {
            const auto same_until = std::mismatch(out[c].begin(), out[c].end(), reference[c].begin()).first;
            EXPECT_EQ(same_until - out[c].begin(), frames)
                << "max block " << split.max_block << (split.random ? " random" : "") << ", channel " << c;
        }
    }
}

TEST_P(Validator, AParameterStepAtOffsetKTakesEffectAtSampleK) {
    // Against an instance that never gets the step: identical up to sample
    // k, different from sample k on. (A carrier frequency step shows one
    // sample later: sample k still plays the phase reached before it.)
    const std::pair<std::string_view, std::string_view> steps[] = {
        {"mix", "100"}, {"output_gain", "-6"}, {"stereo_width", "200"}, {"carrier_mode", "Stoch"}};
    const Stereo input = noise(256, 12);
    for (const auto& [id, text] : steps) {
        for (const uint32_t k : {1u, 100u, 255u}) {
            const auto plugin = load(GetParam());
            const auto unchanged = load(GetParam());
            ASSERT_TRUE(plugin && unchanged);
            for (HostedPlugin* p : {plugin.get(), unchanged.get()}) {
                ASSERT_TRUE(p->set_param(pid("char_amount"), value_of(*p, "char_amount", "1")));
            }
            ASSERT_TRUE(plugin->activate(48000.0, 256));
            ASSERT_TRUE(unchanged->activate(48000.0, 256));
            const Stereo out = render(*plugin, input, {256}, {{k, pid(id), value_of(*plugin, id, text)}});
            const Stereo reference = render(*unchanged, input, {256});
            const auto first = std::mismatch(out[0].begin(), out[0].end(), reference[0].begin()).first;
            EXPECT_EQ(first - out[0].begin(), k) << id << " step at " << k;
        }
    }
}

// --- rates and life cycle --------------------------------------------------------------

TEST_P(Validator, AnySampleRateGivesFiniteBoundedOutput) {
    for (const double rate : {1200.0, 22050.0, 44100.5, 48000.0, 192000.0, 1230000.0}) {
        const auto plugin = load(GetParam());
        ASSERT_TRUE(plugin);
        everything_on(*plugin);
        ASSERT_TRUE(plugin->activate(rate, 1024)) << rate;
        const Stereo out = render(*plugin, noise(static_cast<uint32_t>(2.0 * rate), 5, 1.0f), {1024});
        for (const auto& channel : out) {
            for (const float x : channel) {
                ASSERT_TRUE(std::isfinite(x) && std::fabs(x) <= 4.0f) << rate << " Hz: " << x;
            }
        }
    }
}

// Clears the running state the way a host does between runs.
void host_reset(HostedPlugin& plugin) {
    if (auto* c = dynamic_cast<ClapHostedPlugin*>(&plugin)) {
        c->plugin()->reset(c->plugin());
    } else if (auto* v = dynamic_cast<Vst3HostedPlugin*>(&plugin)) {
        const auto& proc = **static_cast<const vst::IAudioProcessorVtbl* const*>(v->processor());
        EXPECT_EQ(proc.set_processing(v->processor(), 0), vst::kResultOk);
        EXPECT_EQ(proc.set_processing(v->processor(), 1), vst::kResultOk);
    }
}

TEST_P(Validator, AfterReactivationOrResetTheOutputIsAFreshInstances) {
    const Stereo first = noise(20000, 1);
    const Stereo second = noise(20000, 2);
    for (const bool reactivate : {false, true}) {
        const auto used = load(GetParam());
        const auto fresh = load(GetParam());
        ASSERT_TRUE(used && fresh);
        // Reset keeps the random sources and the formant morph's held value
        // running by design (the Stoch carrier's generator, sample-and-hold
        // motion, the swarm's drift): a setting without them, every other
        // stage at work.
        for (HostedPlugin* plugin : {used.get(), fresh.get()}) {
            for (const auto& [id, text] : std::initializer_list<std::pair<std::string_view, std::string_view>>{
                     {"mix", "100"}, {"stereo_width", "200"}, {"carrier_mode", "Formant"},
                     {"lock_motion_enable", "On"}, {"lock_motion_shape", "Triangle"},
                     {"lock_motion_depth", "1"}, {"char_mode", "Fold"}, {"char_amount", "1"},
                     {"comb_mix", "0.5"}, {"comb_feedback", "0.9"}, {"carrier_env_amount", "1"}}) {
                ASSERT_TRUE(plugin->set_param(pid(id), value_of(*plugin, id, text)));
            }
        }
        ASSERT_TRUE(used->activate(reactivate ? 44100.0 : 96000.0, 512));
        render(*used, first, {512}, {}, false, HostTransport{});
        if (reactivate) {
            used->deactivate();
            ASSERT_TRUE(used->activate(96000.0, 512));
        }
        host_reset(*used);
        ASSERT_TRUE(fresh->activate(96000.0, 512));
        // A stopped transport: VST3 would report the first run's song position.
        EXPECT_EQ(render(*used, second, {512}, {}, false, HostTransport{}),
                  render(*fresh, second, {512}, {}, false, HostTransport{}))
            << (reactivate ? "re-activated at 96 kHz" : "reset");
    }
}

TEST_P(Validator, RefusesDoublePrecisionProcessing) {
    const auto plugin = load(GetParam());
    ASSERT_TRUE(plugin);
    if (auto* c = dynamic_cast<ClapHostedPlugin*>(plugin.get())) {
        const auto* ports = static_cast<const clap::clap_plugin_audio_ports*>(c->extension(clap::CLAP_EXT_AUDIO_PORTS));
        ASSERT_NE(ports, nullptr);
        constexpr uint32_t supports_64_bits = 1u << 1; // CLAP_AUDIO_PORT_SUPPORTS_64BITS
        for (const bool is_input : {true, false}) {
            const uint32_t count = ports->count(c->plugin(), is_input);
            ASSERT_GT(count, 0u);
            for (uint32_t i = 0; i < count; ++i) {
                clap::clap_audio_port_info info{};
                ASSERT_TRUE(ports->get(c->plugin(), i, is_input, &info));
                EXPECT_EQ(info.flags & supports_64_bits, 0u);
            }
        }
    } else {
        auto& v = dynamic_cast<Vst3HostedPlugin&>(*plugin);
        const auto& proc = **static_cast<const vst::IAudioProcessorVtbl* const*>(v.processor());
        EXPECT_EQ(proc.can_process_sample_size(v.processor(), vst::kSample64), vst::kResultFalse);
        vst::ProcessSetup setup{vst::kRealtime, vst::kSample64, 512, 48000.0};
        EXPECT_NE(proc.setup_processing(v.processor(), &setup), vst::kResultOk);
        // The refusal leaves the plug-in fit for single precision.
        ASSERT_TRUE(plugin->activate(48000.0, 512));
        const Stereo out = render(*plugin, noise(1024, 4), {512});
        EXPECT_TRUE(std::isfinite(out[0][1023]));
    }
}

TEST_P(Validator, AFlushWhileInactiveEqualsChangesInAProcessCall) {
    const Stereo input = noise(4096, 8);
    std::vector<std::pair<uint32_t, std::string>> settings = {
        {pid("mix"), "75"}, {pid("char_mode"), "Warm"}, {pid("carrier_mode"), "Stoch"}, {pid("comb_mix"), "0.4"}};
    // CLAP: inactive, the params extension's flush as each change is set.
    // VST3: a block without audio.
    const auto flushed = load(GetParam());
    ASSERT_TRUE(flushed);
    // VST3 processes nothing before setActive: there the flush is a block
    // without audio once active.
    auto* vst3 = dynamic_cast<Vst3HostedPlugin*>(flushed.get());
    if (vst3 != nullptr) {
        ASSERT_TRUE(flushed->activate(48000.0, 512));
    }
    for (const auto& [id, text] : settings) {
        ASSERT_TRUE(flushed->set_param(id, *flushed->text_to_value(id, text)));
    }
    if (vst3 != nullptr) {
        // With the transport the audio that follows will report: a
        // character-mode change lands at once only while it is stopped.
        EXPECT_EQ(vst3->process_without_audio(0, Vst3HostedPlugin::NoAudio::NoBuses, HostTransport{true, 120.0}),
                  vst::kResultOk);
    }
    const auto flushed_state = flushed->save_state();
    ASSERT_TRUE(flushed->activate(48000.0, 512));
    const Stereo flushed_out = render(*flushed, input, {512});

    // Active: the same changes with the first block.
    const auto processed = load(GetParam());
    ASSERT_TRUE(processed->activate(48000.0, 512));
    for (const auto& [id, text] : settings) {
        ASSERT_TRUE(processed->set_param(id, *processed->text_to_value(id, text)));
    }
    const Stereo processed_out = render(*processed, input, {512});
    EXPECT_EQ(flushed_out, processed_out);
    EXPECT_EQ(flushed_state, processed->save_state());
    for (const HostParamInfo& p : processed->params()) {
        EXPECT_EQ(flushed->param_value(p.id), processed->param_value(p.id)) << p.name;
    }
}

TEST_P(Validator, RandomBytesAndEmptyStreamsAreRefusedAndChangeNothing) {
    const auto plugin = load(GetParam());
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->set_param(pid("mix"), value_of(*plugin, "mix", "33")));
    const auto before = plugin->save_state();
    ASSERT_TRUE(before);
    std::mt19937 rng(17);
    std::vector<std::string> junk = {""};
    for (const size_t size : {1u, 7u, 8u, 9u, 64u, 4096u}) {
        std::string bytes(size, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(rng());
        }
        junk.push_back(bytes);
        if (size > 8) {
            // A CLAP length prefix that is right, then random bytes.
            for (size_t i = 0; i < 8; ++i) {
                bytes[i] = static_cast<char>(((size - 8) >> (8 * i)) & 0xFF);
            }
            junk.push_back(bytes);
        }
    }
    for (const std::string& bytes : junk) {
        for (const StreamPieces pieces : {StreamPieces{}, StreamPieces{1, 1}}) {
            EXPECT_FALSE(plugin->load_state(bytes, pieces)) << bytes.size() << " bytes";
        }
    }
    EXPECT_EQ(plugin->save_state(), before);
}

// --- the caller's environment ----------------------------------------------------------

TEST_P(Validator, KeepsTheCallersFloatingPointControlState) {
    // Round toward zero, denormals kept (no flush-to-zero, no denormals-are-
    // zero), every exception masked: not what the plug-in would choose.
    constexpr unsigned int status_flags = 0x3F;
    const unsigned int saved = _mm_getcsr();
    const unsigned int unusual = (_MM_MASK_MASK | _MM_ROUND_TOWARD_ZERO) & ~(_MM_FLUSH_ZERO_ON | 0x40u);
    const auto plugin = load(GetParam());
    ASSERT_TRUE(plugin);
    _mm_setcsr(unusual);
    const auto expect_kept = [&](const char* call) {
        EXPECT_EQ(_mm_getcsr() & ~status_flags, unusual) << "after " << call;
        _mm_setcsr(unusual);
    };
    everything_on(*plugin);
    expect_kept("set_param");
    const bool active = plugin->activate(48000.0, 256);
    expect_kept("activate");
    Stereo input = noise(256, 6);
    input[0][3] = 1e-40f; // a denormal in the input
    float* io[] = {input[0].data(), input[1].data()};
    const bool processed = plugin->process(io, io, 256, HostTransport{true, 120.0});
    expect_kept("process");
    const auto state = plugin->save_state();
    expect_kept("save_state");
    const bool loaded = state && plugin->load_state(*state);
    expect_kept("load_state");
    plugin->deactivate();
    expect_kept("deactivate");
    _mm_setcsr(saved);
    EXPECT_TRUE(active && processed && loaded);
}

// Everything a host reads or writes as text: every parameter's text at a
// few values, the values typed texts give back, and the saved state.
std::vector<std::string> texts(PluginFormat format) {
    const auto plugin = load(format);
    std::vector<std::string> out;
    if (!plugin) {
        return out;
    }
    for (const HostParamInfo& p : plugin->params()) {
        for (const double v : {p.min, p.default_value, p.min + 0.37 * (p.max - p.min), p.max}) {
            const std::string shown = plugin->value_to_text(p.id, v).value_or("(none)");
            out.push_back(shown);
            for (const std::string& typed : {shown, std::string("0.5"), std::string("1,5"), std::string("-3.25")}) {
                const auto back = plugin->text_to_value(p.id, typed);
                char printed[32] = "(refused)";
                if (back) {
                    *std::to_chars(printed, printed + sizeof printed - 1, *back).ptr = '\0';
                }
                out.push_back(printed);
            }
        }
        const double step = p.min + 0.61 * (p.max - p.min);
        EXPECT_TRUE(plugin->set_param(p.id, p.step_count > 0 ? std::round(step) : step));
    }
    out.push_back(plugin->save_state().value_or("(no state)"));
    return out;
}

TEST_P(Validator, NumbersReadAndWrittenAlikeInAnyLocale) {
    const std::vector<std::string> in_c = texts(GetParam());
    ASSERT_FALSE(in_c.empty());
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    }
    // Back to the C locale however the test ends.
    struct Restore {
        std::locale previous = std::locale::global(std::locale("de_DE.UTF-8"));
        ~Restore() {
            std::locale::global(previous);
            std::setlocale(LC_ALL, "C");
        }
    } restore;
    ASSERT_EQ(std::localeconv()->decimal_point, std::string(","));
    const std::vector<std::string> in_german = texts(GetParam());
    ASSERT_EQ(in_german.size(), in_c.size());
    for (size_t i = 0; i < in_c.size(); ++i) {
        EXPECT_EQ(in_german[i], in_c[i]) << "entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Tessellgrove, Validator, ::testing::Values(PluginFormat::Clap, PluginFormat::Vst3),
                         format_case_name);

// --- misuse through the raw interfaces --------------------------------------------------

std::unique_ptr<ClapHostedPlugin> clap_instance() {
    std::string error;
    auto library = ClapLibrary::open(library_path, error);
    EXPECT_TRUE(library) << error;
    auto plugin = library ? ClapHostedPlugin::create(library, {}, error) : nullptr;
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

TEST(ValidatorClapMisuse, OutOfOrderCallsAreRefused) {
    const auto hosted = clap_instance();
    ASSERT_TRUE(hosted);
    const clap::clap_plugin* p = hosted->plugin();
    float left[16] = {}, right[16] = {};
    float* channels[] = {left, right};
    clap::clap_audio_buffer buffer{channels, nullptr, 2, 0, 0};
    clap::clap_process block{};
    block.frames_count = 16;
    block.audio_inputs = &buffer;
    block.audio_outputs = &buffer;
    block.audio_inputs_count = 1;
    block.audio_outputs_count = 1;
    EXPECT_EQ(p->process(p, &block), clap::CLAP_PROCESS_ERROR) << "before activate";
    EXPECT_FALSE(p->start_processing(p)) << "before activate";
    ASSERT_TRUE(p->activate(p, 48000.0, 1, 64));
    EXPECT_FALSE(p->activate(p, 44100.0, 1, 64)) << "activated twice";
    EXPECT_EQ(p->process(p, &block), clap::CLAP_PROCESS_ERROR) << "before start_processing";
    ASSERT_TRUE(p->start_processing(p));
    EXPECT_EQ(p->process(p, nullptr), clap::CLAP_PROCESS_ERROR);
    p->stop_processing(p);
    p->deactivate(p);
    p->deactivate(p); // twice: harmless
}

TEST(ValidatorClapMisuse, NullPointersToExtensionsAreRefused) {
    const auto hosted = clap_instance();
    ASSERT_TRUE(hosted);
    const clap::clap_plugin* p = hosted->plugin();
    const auto* params = static_cast<const clap::clap_plugin_params*>(hosted->extension(clap::CLAP_EXT_PARAMS));
    const auto* state = static_cast<const clap::clap_plugin_state*>(hosted->extension(clap::CLAP_EXT_STATE));
    const auto* ports =
        static_cast<const clap::clap_plugin_audio_ports*>(hosted->extension(clap::CLAP_EXT_AUDIO_PORTS));
    ASSERT_TRUE(params && state && ports);
    const uint32_t mix = pid("mix");
    double value = 0.0;
    char text[64];
    EXPECT_FALSE(params->get_info(p, 0, nullptr));
    EXPECT_FALSE(params->get_value(p, mix, nullptr));
    EXPECT_FALSE(params->value_to_text(p, mix, 0.5, nullptr, 64));
    EXPECT_FALSE(params->value_to_text(p, mix, 0.5, text, 0));
    EXPECT_FALSE(params->text_to_value(p, mix, nullptr, &value));
    EXPECT_FALSE(params->text_to_value(p, mix, "50", nullptr));
    EXPECT_FALSE(ports->get(p, 0, true, nullptr));
    EXPECT_FALSE(state->save(p, nullptr));
    EXPECT_FALSE(state->load(p, nullptr));
    // A flush without events to read changes nothing.
    params->flush(p, nullptr, nullptr);
    ASSERT_TRUE(params->get_value(p, mix, &value));
    clap::clap_param_info info{};
    ASSERT_TRUE(params->get_info(p, 1, &info));
    EXPECT_EQ(value, info.default_value);
}

TEST(ValidatorVst3Misuse, UnknownInterfacesAndOutOfOrderCallsAreRefused) {
    const auto loaded = load(PluginFormat::Vst3);
    ASSERT_TRUE(loaded);
    auto& v = dynamic_cast<Vst3HostedPlugin&>(*loaded);
    // An id no interface has, asked of every interface the instance gave.
    const vst::Uid unknown = vst::inline_uid(0x12345678, 0x9ABCDEF0, 0x0FEDCBA9, 0x87654321);
    for (void* face : {v.component(), v.processor(), v.controller()}) {
        auto* object = static_cast<vst::FUnknown*>(face);
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(object->vtbl->query_interface(object, reinterpret_cast<const char*>(unknown.data()), &out),
                  vst::kNoInterface);
        EXPECT_EQ(out, nullptr);
        EXPECT_NE(object->vtbl->query_interface(object, nullptr, &out), vst::kResultOk);
    }

    const auto& comp = **static_cast<const vst::IComponentVtbl* const*>(v.component());
    const auto& proc = **static_cast<const vst::IAudioProcessorVtbl* const*>(v.processor());
    float left[16] = {}, right[16] = {};
    float* channels[] = {left, right};
    vst::AudioBusBuffers in{}, out{};
    in.num_channels = out.num_channels = 2;
    in.channel_buffers32 = out.channel_buffers32 = channels;
    vst::ProcessData data{};
    data.process_mode = vst::kRealtime;
    data.symbolic_sample_size = vst::kSample32;
    data.num_samples = 16;
    data.num_inputs = data.num_outputs = 1;
    data.inputs = &in;
    data.outputs = &out;
    EXPECT_NE(proc.process(v.processor(), &data), vst::kResultOk) << "before setActive";
    EXPECT_NE(proc.process(v.processor(), nullptr), vst::kResultOk);
    vst::ProcessSetup setup{vst::kRealtime, vst::kSample32, 64, 48000.0};
    ASSERT_EQ(proc.setup_processing(v.processor(), &setup), vst::kResultOk);
    EXPECT_NE(proc.setup_processing(v.processor(), nullptr), vst::kResultOk);
    ASSERT_EQ(comp.set_active(v.component(), 1), vst::kResultOk);
    comp.set_active(v.component(), 1); // twice: whatever the answer, no harm
    data.symbolic_sample_size = vst::kSample64;
    EXPECT_NE(proc.process(v.processor(), &data), vst::kResultOk) << "64-bit block";
    data.symbolic_sample_size = vst::kSample32;
    EXPECT_EQ(proc.process(v.processor(), &data), vst::kResultOk);
    EXPECT_EQ(comp.set_active(v.component(), 0), vst::kResultOk);
    EXPECT_NE(comp.get_state(v.component(), nullptr), vst::kResultOk);
    EXPECT_NE(comp.set_state(v.component(), nullptr), vst::kResultOk);
}

} // namespace
