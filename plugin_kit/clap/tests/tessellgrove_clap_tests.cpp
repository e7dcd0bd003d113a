// The CLAP adapter around the real plug-in instance: what a host sees of
// its parameters and state, and a processed block.

#include "plugin_kit/clap/clap_adapter.hpp"

#include "test_host.hpp"

#include "plugin/lib/tessellgrove.hpp"
#include "plugin_kit/params/param_id.hpp"
#include "plugin_kit/state/state.hpp"
#include "webview/state/web_view_state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace clap_test;
using plugin_kit::param_id_hash;

plugin_kit::ClapPluginFactory& tessellgrove_factory() {
    static plugin_kit::ClapPluginFactory factory(
        plugin_kit::ClapPluginInfo{"com.corvalune.tessellgrove", "Tessellgrove", "Corvalune",
                                   "https://corvalune.example", "0.1.0",
                                   "Ring modulator with granular-inspired carrier modes",
                                   {"audio-effect", "stereo", "distortion"}},
        []() -> std::unique_ptr<plugin_kit::Plugin> { return std::make_unique<tessellgrove::Tessellgrove>(); });
    return factory;
}

struct Instance {
    TestHost host;
    const clap_plugin_factory* factory = tessellgrove_factory().factory();
    const clap_plugin* plugin = factory->create_plugin(factory, &host.host, "com.corvalune.tessellgrove");
    ~Instance() {
        if (plugin != nullptr) {
            plugin->destroy(plugin);
        }
    }
    tessellgrove::Tessellgrove& instance() {
        return static_cast<tessellgrove::Tessellgrove&>(
            static_cast<plugin_kit::ClapPluginInstance*>(plugin->plugin_data)->plugin());
    }
    const clap_plugin_params* params() const {
        return static_cast<const clap_plugin_params*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
    }
};

TEST(TessellgroveClap, ParametersAsHostsSeeThem) {
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    const auto* params = inst.params();
    ASSERT_EQ(params->count(inst.plugin), 29u);
    clap_param_info info{};
    ASSERT_TRUE(params->get_info(inst.plugin, 0, &info));
    EXPECT_EQ(info.id, 1386281684u); // input_gain
    ASSERT_TRUE(params->get_info(inst.plugin, 28, &info));
    EXPECT_EQ(info.id, param_id_hash("comb_mix"));

    struct Range {
        const char* id;
        double max;
        double def;
    };
    for (const Range& r : {Range{"swarm_count", 14.0, 2.0}, Range{"trig_div", 3.0, 1.0},
                           Range{"stereo_width", 1.0, 0.5}}) {
        bool found = false;
        for (uint32_t i = 0; i < 29; ++i) {
            ASSERT_TRUE(params->get_info(inst.plugin, i, &info));
            if (info.id == param_id_hash(r.id)) {
                found = true;
                EXPECT_EQ(info.max_value, r.max) << r.id;
                EXPECT_EQ(info.default_value, r.def) << r.id;
            }
        }
        EXPECT_TRUE(found) << r.id;
    }

    char text[64];
    ASSERT_TRUE(params->value_to_text(inst.plugin, param_id_hash("mix"), 0.5, text, sizeof text));
    EXPECT_STREQ(text, "50 %");
    double value = 0.0;
    ASSERT_TRUE(params->get_value(inst.plugin, param_id_hash("lock_freq"), &value));
    ASSERT_TRUE(params->value_to_text(inst.plugin, param_id_hash("lock_freq"), value, text, sizeof text));
    EXPECT_STREQ(text, "440 Hz");
}

TEST(TessellgroveClap, FreshStateIsTheLengthPrefixedJson) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    PieceOutStream out(17);
    ASSERT_TRUE(static_cast<const clap_plugin_state*>(inst.plugin->get_extension(inst.plugin, CLAP_EXT_STATE))
                    ->save(inst.plugin, &out.stream));
    tessellgrove::TessellgroveParams fresh;
    const std::string json = plugin_kit::write_state_json(fresh, "0.1.0");
    ASSERT_EQ(out.bytes.size(), json.size() + 8);
    uint64_t length = 0;
    for (size_t i = 0; i < 8; ++i) {
        length |= static_cast<uint64_t>(static_cast<unsigned char>(out.bytes[i])) << (8 * i);
    }
    EXPECT_EQ(length, json.size());
    EXPECT_EQ(out.bytes.substr(8), json);
    EXPECT_EQ(json.rfind(R"({"version":"0.1.0","params":{"carrier_env_amount":{"f32":0.0},)", 0), 0u);
}

TEST(TessellgroveClap, ProcessesBlocksWithChangesAndTransport) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    ASSERT_TRUE(inst.plugin->activate(inst.plugin, 48000.0, 1, 512));
    ASSERT_TRUE(inst.plugin->start_processing(inst.plugin));
    EXPECT_EQ(inst.instance().sample_rate(), 48000.0f);

    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> l(512), r(512);
    for (size_t i = 0; i < l.size(); ++i) {
        l[i] = noise(rng);
        r[i] = noise(rng);
    }
    clap_event_transport transport{};
    transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_IS_PLAYING;
    transport.tempo = 121.0;
    EventList events;
    events.param_value(100, param_id_hash("mix"), 1.0);
    events.param_value(300, param_id_hash("char_mode"), 3.0);
    StereoBlock block(l, r, true);
    ASSERT_EQ(run_process(inst.plugin, block, 512, events, &transport), CLAP_PROCESS_CONTINUE);
    for (size_t i = 0; i < 512; ++i) {
        ASSERT_TRUE(std::isfinite(block.left()[i]) && std::isfinite(block.right()[i])) << i;
    }
    EXPECT_EQ(inst.instance().tessellgrove_params()->mix.value(), 1.0f);
    EXPECT_EQ(inst.instance().host_tempo()->load(), 121.0f);
    EXPECT_TRUE(inst.instance().host_playing()->load());
    EXPECT_EQ(inst.instance().transport_push_count(), 1u) << "121 BPM differs from the initial 120 once";
}

TEST(TessellgroveClap, LoadingOneParameterLeavesTheOthers) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    auto& p = *inst.instance().tessellgrove_params();
    p.comb_mix.set_plain_value(0.75f);
    const std::string json = R"({"version":"0.1.0","params":{"mix":{"f32":0.25}},"fields":{}})";
    std::string bytes(8, '\0');
    bytes[0] = static_cast<char>(json.size());
    PieceInStream in(bytes + json, 1);
    ASSERT_TRUE(static_cast<const clap_plugin_state*>(inst.plugin->get_extension(inst.plugin, CLAP_EXT_STATE))
                    ->load(inst.plugin, &in.stream));
    EXPECT_EQ(p.mix.value(), 0.25f);
    EXPECT_EQ(p.comb_mix.value(), 0.75f);
}

TEST(TessellgroveClap, TheGuiOpensTheWebViewEditorAndHostChangesReachThePageOnTheMainThread) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    webview::WebViewState& state = *inst.instance().web_view_state();
    const auto drain = [&state] {
        std::vector<std::string> out;
        while (auto s = state.try_recv_script()) {
            out.push_back(std::move(*s));
        }
        return out;
    };

    const auto* gui = static_cast<const clap_plugin_gui*>(inst.plugin->get_extension(inst.plugin, CLAP_EXT_GUI));
    ASSERT_NE(gui, nullptr);
    ASSERT_TRUE(gui->create(inst.plugin, "x11", false));
    EXPECT_TRUE(gui->set_scale(inst.plugin, 1.5));
    EXPECT_EQ(state.scale_factor(), 1.5f);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->get_size(inst.plugin, &w, &h));
    EXPECT_EQ(w, 900u);
    EXPECT_EQ(h, 600u);
    clap_window window{};
    window.api = "x11";
    window.x11 = 7;
    ASSERT_TRUE(gui->set_parent(inst.plugin, &window));
    EXPECT_TRUE(state.is_open());
    gui->destroy(inst.plugin);
    EXPECT_FALSE(state.is_open());

    ASSERT_TRUE(inst.plugin->activate(inst.plugin, 48000.0, 1, 512));
    ASSERT_TRUE(inst.plugin->start_processing(inst.plugin));
    EventList events;
    events.param_value(0, param_id_hash("mix"), 0.25);
    StereoBlock block(std::vector<float>(32, 0.1f), std::vector<float>(32, 0.1f), true);
    ASSERT_EQ(run_process(inst.plugin, block, 32, events), CLAP_PROCESS_CONTINUE);
    EXPECT_TRUE(drain().empty()) << "nothing formatted on the audio thread";
    EXPECT_EQ(inst.host.callback_requests, 1);
    inst.plugin->on_main_thread(inst.plugin);
    EXPECT_EQ(drain(), std::vector<std::string>{"if (window._updateParam) window._updateParam('mix', 0.25);"});
}

} // namespace
