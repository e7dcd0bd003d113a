// The adapter around the real Tessellgrove instance: what a VST3 host sees of
// all 29 parameters, their texts both ways, the saved state, and automation
// of every parameter inside one processed block.

#include "test_host.hpp"

#include "plugin/lib/tessellgrove.hpp"
#include "plugin_kit/params/param_id.hpp"
#include "webview/state/web_view_state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace vst3_test;

tessellgrove::Tessellgrove* last_tessellgrove = nullptr;

std::unique_ptr<Plugin> make_tessellgrove() {
    auto plugin = std::make_unique<tessellgrove::Tessellgrove>();
    last_tessellgrove = plugin.get();
    return plugin;
}

const Vst3Descriptor tessellgrove_descriptor{
    "Tessellgrove", "Corvalune", "0.1.0", "https://corvalune.example", "support@corvalune.example",
    test_class_id,  "Fx|Distortion", "VST 3.6.14", make_tessellgrove,
};

std::u16string utf16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string ascii(const char16* s) {
    std::string out;
    for (; *s != 0; ++s) {
        out.push_back(static_cast<char>(*s));
    }
    return out;
}

TEST(Vst3Tessellgrove, AllParametersAsAHostSeesThem) {
    struct Expected {
        std::string_view id;
        std::string_view title;
        std::string_view units;
        int32 steps;
        std::string_view default_text;
    };
    const Expected expected[] = {
        {"input_gain", "Input Gain", " dB", 0, "0.0"},
        {"mix", "Mix", " %", 0, "50"},
        {"output_gain", "Output Gain", " dB", 0, "0.0"},
        {"stereo_width", "Stereo Width", " %", 0, "100"},
        {"lock_freq", "Lock Frequency", " Hz", 0, "440 Hz"},
        {"lock_motion_enable", "Lock Motion Enable", "", 1, "Off"},
        {"lock_motion_rate", "Lock Motion Rate", "", 8, "1/4"},
        {"lock_motion_depth", "Lock Motion Depth", " %", 0, "50"},
        {"lock_motion_shape", "Lock Motion Shape", "", 4, "Sine"},
        {"carrier_mode", "Carrier Mode", "", 2, "Formant"},
        {"carrier_env_amount", "Carrier Env Amount", " %", 0, "0"},
        {"mode_cycle_enable", "Mode Cycle Enable", "", 1, "Off"},
        {"mode_cycle_div", "Mode Cycle Division", "", 3, "1/4"},
        {"formant_position", "Formant Position", "", 0, "0.50"},
        {"formant_width", "Formant Width", "", 0, "0.50"},
        {"formant_morph_rate", "Formant Morph Rate", " Hz", 0, "0.00"},
        {"stoch_spread", "Stoch Spread", "", 0, "0.30"},
        {"stoch_density", "Stoch Density", "", 0, "0.50"},
        {"stoch_smoothing", "Stoch Smoothing", "", 0, "0.50"},
        {"swarm_count", "Swarm Count", "", 14, "4"},
        {"swarm_spread", "Swarm Spread", "", 0, "0.20"},
        {"swarm_drift", "Swarm Drift", "", 0, "0.30"},
        {"trig_div", "Trigger Division", "", 3, "1/8"},
        {"trig_amount", "Trigger Amount", "", 0, "0.00"},
        {"char_mode", "Character Mode", "", 3, "Clean"},
        {"char_amount", "Character Amount", "", 0, "0.50"},
        {"comb_feedback", "Comb Feedback", "", 0, "0.00"},
        {"comb_tuning", "Comb Tuning", " Hz", 0, "440 Hz"},
        {"comb_mix", "Comb Mix", "", 0, "0"},
    };
    Instance inst(tessellgrove_descriptor);
    ASSERT_NE(inst.component, nullptr);
    ASSERT_EQ(inst.ctrl().get_parameter_count(inst.controller), 29);

    for (int32 i = 0; i < 29; ++i) {
        const Expected& e = expected[i];
        ParameterInfo info{};
        ASSERT_EQ(inst.ctrl().get_parameter_info(inst.controller, i, &info), kResultOk);
        const ParamID id = param_id_hash(e.id);
        EXPECT_EQ(info.id, id) << e.id;
        EXPECT_EQ(std::u16string(info.title), utf16(e.title)) << e.id;
        EXPECT_EQ(std::u16string(info.short_title), utf16(e.title)) << e.id;
        EXPECT_EQ(std::u16string(info.units), utf16(e.units)) << e.id;
        EXPECT_EQ(info.step_count, e.steps) << e.id;
        EXPECT_EQ(info.flags, kCanAutomate) << e.id;
        EXPECT_EQ(info.unit_id, kRootUnitId) << e.id;
        EXPECT_EQ(inst.normalized(id), info.default_normalized_value) << e.id;

        String128 text{};
        ASSERT_EQ(inst.ctrl().get_param_string_by_value(inst.controller, id, info.default_normalized_value, text),
                  kResultOk);
        EXPECT_EQ(ascii(text), e.default_text) << e.id;

        // Every step of a stepped parameter, and a spread of values of a
        // continuous one, read back from its own text to the same text.
        const int32 samples = e.steps == 0 ? 11 : e.steps + 1;
        for (int32 s = 0; s < samples; ++s) {
            const double n = static_cast<double>(s) / static_cast<double>(samples - 1);
            String128 shown{};
            ASSERT_EQ(inst.ctrl().get_param_string_by_value(inst.controller, id, n, shown), kResultOk);
            ParamValue back = -1.0;
            const tresult read = inst.ctrl().get_param_value_by_string(inst.controller, id, shown, &back);
            if (ascii(shown).ends_with(" kHz")) {
                // Kilohertz texts are shown but not read: typed text is hertz.
                EXPECT_EQ(read, kResultFalse) << e.id << " \"" << ascii(shown) << "\"";
                continue;
            }
            ASSERT_EQ(read, kResultOk) << e.id << " \"" << ascii(shown) << "\"";
            if (e.id == "comb_mix") {
                // Shown as a percentage but typed as a plain 0..1 value, so
                // any shown text above "0" reads back as the top of the range.
                EXPECT_EQ(back, n == 0.0 ? 0.0 : 1.0) << ascii(shown);
                continue;
            }
            String128 again{};
            inst.ctrl().get_param_string_by_value(inst.controller, id, back, again);
            EXPECT_EQ(ascii(again), ascii(shown)) << e.id << " at " << n;
            if (e.steps != 0) {
                EXPECT_NEAR(back, n, 1e-6) << e.id << " step " << s;
            }
        }
    }
}

TEST(Vst3Tessellgrove, StateAndAutomationOfEveryParameter) {
    Instance a(tessellgrove_descriptor);
    MemoryStream fresh;
    ASSERT_EQ(a.save(fresh), kResultOk);
    EXPECT_EQ(fresh.data.rfind(R"({"version":"0.1.0","params":{"carrier_env_amount":{"f32":0.0},)", 0), 0u);
    EXPECT_NE(fresh.data.find(R"("trig_div":{"i32":1}},"fields":{}})"), std::string::npos);

    // One block of 512 frames with a change of every parameter at its own
    // offset; the output stays finite and the values land.
    a.start(48000.0);
    Block block(512, false, 0.0f);
    for (size_t i = 0; i < block.in_l.size(); ++i) {
        block.in_l[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
        block.in_r[i] = 0.5f * std::cos(0.03f * static_cast<float>(i));
    }
    block.context.state = kPlaying | kTempoValid;
    block.context.tempo = 128.0;
    ChangeList changes;
    for (size_t i = 0; i < tessellgrove::param_count; ++i) {
        changes.add(param_id_hash(tessellgrove::param_ids[i]), static_cast<int32>(i * 17), 0.8);
    }
    block.data.input_parameter_changes = changes.changes();
    ASSERT_EQ(a.proc().process(a.processor, &block.data), kResultOk);
    for (size_t i = 0; i < block.out_l.size(); ++i) {
        ASSERT_TRUE(std::isfinite(block.out_l[i]) && std::isfinite(block.out_r[i])) << i;
    }
    for (const std::string_view id : tessellgrove::param_ids) {
        EXPECT_NEAR(a.normalized(param_id_hash(id)), 0.8, 0.08) << id; // stepped ones sit on a step
    }

    // The changed state carries over into a fresh instance unchanged.
    MemoryStream saved;
    ASSERT_EQ(a.save(saved), kResultOk);
    Instance b(tessellgrove_descriptor);
    MemoryStream in;
    in.data = saved.data;
    ASSERT_EQ(b.load(in), kResultOk);
    MemoryStream resaved;
    ASSERT_EQ(b.save(resaved), kResultOk);
    EXPECT_EQ(resaved.data, saved.data);
}

TEST(Vst3Tessellgrove, TheViewOpensTheWebViewEditorAndHostChangesReachThePage) {
    Instance inst(tessellgrove_descriptor);
    tessellgrove::Tessellgrove* plugin = last_tessellgrove;
    ASSERT_NE(plugin, nullptr);
    webview::WebViewState& state = *plugin->web_view_state();
    const auto drain = [&state] {
        std::vector<std::string> out;
        while (auto s = state.try_recv_script()) {
            out.push_back(std::move(*s));
        }
        return out;
    };

    IPlugView* view = inst.ctrl().create_view(inst.controller, "editor");
    ASSERT_NE(view, nullptr);
    ViewRect size{};
    ASSERT_EQ(view->vtbl->get_size(view, &size), kResultOk);
    EXPECT_EQ(size.right - size.left, 900);
    EXPECT_EQ(size.bottom - size.top, 600);
    ASSERT_EQ(view->vtbl->attached(view, reinterpret_cast<void*>(0x4200001), "X11EmbedWindowID"), kResultOk);
    EXPECT_TRUE(state.is_open());
    ASSERT_EQ(view->vtbl->removed(view), kResultOk);
    EXPECT_FALSE(state.is_open());
    view->vtbl->release(view);

    ASSERT_EQ(inst.set_normalized(param_id_hash("mix"), 0.25), kResultOk);
    EXPECT_EQ(drain(), std::vector<std::string>{"if (window._updateParam) window._updateParam('mix', 0.25);"});

    MemoryStream saved;
    ASSERT_EQ(inst.save(saved), kResultOk);
    MemoryStream in;
    in.data = saved.data;
    ASSERT_EQ(inst.load(in), kResultOk);
    const auto statements = drain();
    ASSERT_EQ(statements.size(), tessellgrove::param_count);
    EXPECT_EQ(statements[1], "if (window._updateParam) window._updateParam('mix', 0.25);");
}

} // namespace
