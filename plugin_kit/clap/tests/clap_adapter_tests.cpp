#include "plugin_kit/clap/clap_adapter.hpp"

#include "fake_plugin.hpp"
#include "test_host.hpp"

#include "plugin_kit/params/param_id.hpp"
#include "plugin_kit/state/state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace clap_test;
using plugin_kit::param_id_hash;

std::shared_ptr<FakeLog> g_log; // the log of the next instance the factory makes

plugin_kit::ClapPluginFactory& test_factory() {
    static plugin_kit::ClapPluginFactory factory(
        plugin_kit::ClapPluginInfo{"org.example.fake", "Fake", "Example", "https://example.org", "1.2.3",
                                   "A plug-in for tests", {"audio-effect", "stereo"}},
        []() -> std::unique_ptr<plugin_kit::Plugin> { return std::make_unique<FakePlugin>(g_log); });
    return factory;
}

const clap_plugin_factory* factory() { return test_factory().factory(); }

// One instance through the factory, destroyed at the end of the test.
struct Instance {
    TestHost host;
    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
    const clap_plugin* plugin = nullptr;

    Instance() {
        g_log = log;
        plugin = factory()->create_plugin(factory(), &host.host, "org.example.fake");
    }
    ~Instance() {
        if (plugin != nullptr) {
            plugin->destroy(plugin);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    template <typename Ext>
    const Ext* ext(const char* id) const {
        return static_cast<const Ext*>(plugin->get_extension(plugin, id));
    }
    void start(double rate = 48000.0) {
        ASSERT_TRUE(plugin->init(plugin));
        ASSERT_TRUE(plugin->activate(plugin, rate, 1, 4096));
        ASSERT_TRUE(plugin->start_processing(plugin));
    }
    FakeParams& params() { return static_cast<FakePlugin&>(instance_plugin()).fake_params(); }
    plugin_kit::Plugin& instance_plugin() {
        return static_cast<plugin_kit::ClapPluginInstance*>(plugin->plugin_data)->plugin();
    }
};

std::vector<float> ones(size_t n) { return std::vector<float>(n, 1.0f); }

// --- entry and factory -----------------------------------------------------------

TEST(ClapFactory, AnswersOnlyThePluginFactoryId) {
    auto& f = test_factory();
    EXPECT_EQ(f.get_factory("clap.plugin-factory"), f.factory());
    for (const char* id : {"clap.plugin-factory ", "clap.plugin-factor", "CLAP.PLUGIN-FACTORY",
                           "clap.preset-discovery-factory/2", "clap.preset-discovery-factory/draft-2", ""}) {
        EXPECT_EQ(f.get_factory(id), nullptr) << id;
    }
    EXPECT_EQ(f.get_factory(nullptr), nullptr);
}

TEST(ClapFactory, OneDescriptorBuiltOnceWithTheIdentity) {
    EXPECT_EQ(factory()->get_plugin_count(factory()), 1u);
    const clap_plugin_descriptor* d = factory()->get_plugin_descriptor(factory(), 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d, factory()->get_plugin_descriptor(factory(), 0));
    EXPECT_EQ(factory()->get_plugin_descriptor(factory(), 1), nullptr);
    EXPECT_EQ(d->clap_version.major, 1u);
    EXPECT_EQ(d->clap_version.minor, 2u);
    EXPECT_EQ(d->clap_version.revision, 2u);
    EXPECT_STREQ(d->id, "org.example.fake");
    EXPECT_STREQ(d->name, "Fake");
    EXPECT_STREQ(d->vendor, "Example");
    EXPECT_STREQ(d->url, "https://example.org");
    EXPECT_STREQ(d->version, "1.2.3");
    EXPECT_STREQ(d->description, "A plug-in for tests");
    EXPECT_EQ(d->manual_url, nullptr);
    EXPECT_EQ(d->support_url, nullptr);
    ASSERT_NE(d->features, nullptr);
    EXPECT_STREQ(d->features[0], "audio-effect");
    EXPECT_STREQ(d->features[1], "stereo");
    EXPECT_EQ(d->features[2], nullptr);
}

TEST(ClapFactory, CreatesOnlyForTheExactIdAndAHost) {
    TestHost host;
    g_log = std::make_shared<FakeLog>();
    const clap_plugin* p = factory()->create_plugin(factory(), &host.host, "org.example.fake");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->desc, factory()->get_plugin_descriptor(factory(), 0));
    p->destroy(p);
    for (const char* id : {"org.example.fake ", "ORG.EXAMPLE.FAKE", "org.example.fak", "org.example.fake.x", ""}) {
        EXPECT_EQ(factory()->create_plugin(factory(), &host.host, id), nullptr) << id;
    }
    EXPECT_EQ(factory()->create_plugin(factory(), &host.host, nullptr), nullptr);
    EXPECT_EQ(factory()->create_plugin(factory(), nullptr, "org.example.fake"), nullptr);
    TestHost old_host;
    old_host.host.clap_version = clap_version{0, 26, 0};
    EXPECT_EQ(factory()->create_plugin(factory(), &old_host.host, "org.example.fake"), nullptr);
}

// --- extensions ---------------------------------------------------------------------

TEST(ClapInstance, OffersExactlyItsExtensions) {
    Instance inst;
    EXPECT_EQ(inst.plugin->get_extension(inst.plugin, CLAP_EXT_PARAMS), nullptr) << "before init";
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    for (const char* id : {"clap.audio-ports-config", "clap.audio-ports", "clap.gui", "clap.latency", "clap.params",
                           "clap.remote-controls/2", "clap.render", "clap.state", "clap.tail"}) {
        EXPECT_NE(inst.plugin->get_extension(inst.plugin, id), nullptr) << id;
    }
    for (const char* id : {"clap.note-ports", "clap.voice-info", "clap.thread-check", "clap.remote-controls.draft/2",
                           "clap.state-context/2", "clap.params ", ""}) {
        EXPECT_EQ(inst.plugin->get_extension(inst.plugin, id), nullptr) << id;
    }
    EXPECT_EQ(inst.plugin->get_extension(inst.plugin, nullptr), nullptr);
}

TEST(ClapInstance, AudioPortsAndTheirOneConfiguration) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    const auto* ports = inst.ext<clap_plugin_audio_ports>(CLAP_EXT_AUDIO_PORTS);
    for (const bool is_input : {true, false}) {
        EXPECT_EQ(ports->count(inst.plugin, is_input), 1u);
        clap_audio_port_info info{};
        ASSERT_TRUE(ports->get(inst.plugin, 0, is_input, &info));
        EXPECT_STREQ(info.name, is_input ? "Input" : "Output");
        EXPECT_EQ(info.channel_count, 2u);
        EXPECT_EQ(info.flags & CLAP_AUDIO_PORT_IS_MAIN, CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_STREQ(info.port_type, "stereo");
        EXPECT_FALSE(ports->get(inst.plugin, 1, is_input, &info));
    }
    const auto* configs = inst.ext<clap_plugin_audio_ports_config>(CLAP_EXT_AUDIO_PORTS_CONFIG);
    EXPECT_EQ(configs->count(inst.plugin), 1u);
    clap_audio_ports_config c{};
    ASSERT_TRUE(configs->get(inst.plugin, 0, &c));
    EXPECT_STREQ(c.name, "Stereo");
    EXPECT_EQ(c.input_port_count, 1u);
    EXPECT_EQ(c.output_port_count, 1u);
    EXPECT_TRUE(c.has_main_input && c.has_main_output);
    EXPECT_EQ(c.main_input_channel_count, 2u);
    EXPECT_STREQ(c.main_output_port_type, "stereo");
    EXPECT_FALSE(configs->get(inst.plugin, 1, &c));
    EXPECT_TRUE(configs->select(inst.plugin, 0));
    EXPECT_FALSE(configs->select(inst.plugin, 1));
}

TEST(ClapInstance, EmbeddedX11EditorOpenedInTheParentAndClosedByDestroy) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    EXPECT_EQ(inst.log->editor_requests, 1) << "asked once, at construction";
    const auto* gui = inst.ext<clap_plugin_gui>(CLAP_EXT_GUI);
    ASSERT_NE(gui, nullptr);
    EXPECT_TRUE(gui->is_api_supported(inst.plugin, "x11", false));
    EXPECT_FALSE(gui->is_api_supported(inst.plugin, "x11", true));
    EXPECT_FALSE(gui->is_api_supported(inst.plugin, "wayland", false));
    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->get_preferred_api(inst.plugin, &api, &floating));
    EXPECT_STREQ(api, "x11");
    EXPECT_FALSE(floating);
    uint32_t w = 0, h = 0;
    EXPECT_FALSE(gui->get_size(inst.plugin, &w, &h)) << "before create";
    EXPECT_FALSE(gui->create(inst.plugin, "x11", true));
    ASSERT_TRUE(gui->create(inst.plugin, "x11", false));
    EXPECT_FALSE(gui->create(inst.plugin, "x11", false)) << "created twice";
    EXPECT_TRUE(gui->set_scale(inst.plugin, 2.0));
    EXPECT_FALSE(gui->set_scale(inst.plugin, std::nan("")));
    ASSERT_TRUE(gui->get_size(inst.plugin, &w, &h));
    EXPECT_EQ(w, 900u);
    EXPECT_EQ(h, 600u);
    EXPECT_TRUE(gui->set_size(inst.plugin, 900, 600));
    EXPECT_FALSE(gui->set_size(inst.plugin, 901, 600));
    clap_window window{};
    window.api = "x11";
    window.x11 = 42;
    EXPECT_TRUE(gui->set_parent(inst.plugin, &window));
    EXPECT_TRUE(gui->show(inst.plugin));
    EXPECT_TRUE(gui->hide(inst.plugin));
    EXPECT_FALSE(gui->can_resize(inst.plugin));
    window.x11 = 43;
    EXPECT_TRUE(gui->set_parent(inst.plugin, &window)) << "a new parent reopens the editor there";
    gui->destroy(inst.plugin);
    EXPECT_FALSE(gui->show(inst.plugin)) << "after destroy";
    EXPECT_EQ(inst.log->editor,
              (std::vector<std::string>{"scale(2)", "spawn(42)", "close", "spawn(43)", "close"}));

    // Opened again and left open: destroying the instance closes it.
    ASSERT_TRUE(gui->create(inst.plugin, "x11", false));
    EXPECT_TRUE(gui->set_parent(inst.plugin, &window));
    inst.plugin->destroy(inst.plugin);
    inst.plugin = nullptr;
    EXPECT_EQ(inst.log->editor.back(), "close");
}

TEST(ClapInstance, WithoutAnEditorThereIsNoGui) {
    auto log = std::make_shared<FakeLog>();
    log->offer_editor = false;
    TestHost host;
    g_log = log;
    const clap_plugin* plugin = factory()->create_plugin(factory(), &host.host, "org.example.fake");
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(plugin->init(plugin));
    EXPECT_EQ(log->editor_requests, 1);
    EXPECT_EQ(plugin->get_extension(plugin, CLAP_EXT_GUI), nullptr);
    EXPECT_NE(plugin->get_extension(plugin, CLAP_EXT_PARAMS), nullptr);
    // Changes still work; nothing asks for a main-thread callback.
    EventList events;
    events.param_value(0, param_id_hash("gain"), 0.25);
    plugin->get_extension(plugin, CLAP_EXT_PARAMS);
    static_cast<const clap_plugin_params*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS))
        ->flush(plugin, events.list(), nullptr);
    EXPECT_EQ(host.callback_requests, 0);
    plugin->destroy(plugin);
}

TEST(ClapEditor, HostChangesReachTheEditorOnlyOnTheMainThread) {
    Instance inst;
    inst.start();
    const auto on_main_thread = [&] {
        inst.host.callback_requests = 0;
        inst.plugin->on_main_thread(inst.plugin);
    };

    EventList first;
    first.param_value(3, param_id_hash("gain"), 0.25);
    first.param_mod(3, param_id_hash("steps"), -1.0);
    first.param_value(5, 12345u, 0.7); // not ours: nothing to report
    StereoBlock block(ones(16), ones(16), true);
    run_process(inst.plugin, block, 16, first);
    EventList second;
    second.param_value(0, param_id_hash("gain"), 0.75);
    second.param_value(0, param_id_hash("toggle"), 1.0);
    run_process(inst.plugin, block, 16, second);
    EXPECT_TRUE(inst.log->editor.empty()) << "the audio thread never calls the editor";
    EXPECT_EQ(inst.host.callback_requests, 1) << "one request until the host answers";

    on_main_thread();
    // In parameter order, latest values, modulation as a normalised offset.
    EXPECT_EQ(inst.log->editor,
              (std::vector<std::string>{"value(gain,0.75)", "mod(steps,-0.25)", "value(toggle,1)"}));

    inst.log->editor.clear();
    run_process(inst.plugin, block, 16, EventList{});
    EXPECT_EQ(inst.host.callback_requests, 0) << "a block without changes asks for nothing";
    on_main_thread();
    EXPECT_TRUE(inst.log->editor.empty());

    // Changes flushed outside processing take the same way.
    EventList flushed;
    flushed.param_value(0, param_id_hash("choice"), 2.0);
    inst.ext<clap_plugin_params>(CLAP_EXT_PARAMS)->flush(inst.plugin, flushed.list(), nullptr);
    EXPECT_TRUE(inst.log->editor.empty());
    EXPECT_EQ(inst.host.callback_requests, 1);
    on_main_thread();
    EXPECT_EQ(inst.log->editor, (std::vector<std::string>{"value(choice,1)"}));
}

TEST(ClapInstance, NoLatencyNoTailNoPagesAndBothRenderModes) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    EXPECT_EQ(inst.ext<clap_plugin_latency>(CLAP_EXT_LATENCY)->get(inst.plugin), 0u);
    EXPECT_EQ(inst.ext<clap_plugin_tail>(CLAP_EXT_TAIL)->get(inst.plugin), 0u);
    const auto* rc = inst.ext<clap_plugin_remote_controls>(CLAP_EXT_REMOTE_CONTROLS);
    EXPECT_EQ(rc->count(inst.plugin), 0u);
    clap_remote_controls_page page{};
    EXPECT_FALSE(rc->get(inst.plugin, 0, &page));
    const auto* render = inst.ext<clap_plugin_render>(CLAP_EXT_RENDER);
    EXPECT_FALSE(render->has_hard_realtime_requirement(inst.plugin));
    EXPECT_TRUE(render->set(inst.plugin, CLAP_RENDER_OFFLINE));
    EXPECT_TRUE(render->set(inst.plugin, CLAP_RENDER_REALTIME));
    EXPECT_FALSE(render->set(inst.plugin, 7));
}

// --- call order ------------------------------------------------------------------------

enum class Step { Init, Activate, ActivateZeroRate, ActivateNanRate, Deactivate, Start, Stop, Process, Reset };

struct MisuseCase {
    const char* name;
    std::vector<std::pair<Step, bool>> steps; // step and its expected success
    const char* log;                          // the instance calls that must result
};

bool run_step(Instance& inst, Step step) {
    const clap_plugin* p = inst.plugin;
    switch (step) {
    case Step::Init: return p->init(p);
    case Step::Activate: return p->activate(p, 48000.0, 1, 512);
    case Step::ActivateZeroRate: return p->activate(p, 0.0, 1, 512);
    case Step::ActivateNanRate: return p->activate(p, std::numeric_limits<double>::quiet_NaN(), 1, 512);
    case Step::Deactivate: p->deactivate(p); return true;
    case Step::Start: return p->start_processing(p);
    case Step::Stop: p->stop_processing(p); return true;
    case Step::Reset: p->reset(p); return true;
    case Step::Process: {
        StereoBlock block(ones(16), ones(16), true);
        return run_process(p, block, 16, EventList{}) == CLAP_PROCESS_CONTINUE;
    }
    }
    return false;
}

const MisuseCase misuse_cases[] = {
    {"normal_life", {{Step::Init, true}, {Step::Activate, true}, {Step::Start, true}, {Step::Process, true},
                     {Step::Reset, true}, {Step::Stop, true}, {Step::Deactivate, true}},
     "init(48000) reset process reset deactivate "},
    {"init_twice", {{Step::Init, true}, {Step::Init, false}}, ""},
    {"activate_before_init", {{Step::Activate, false}}, ""},
    {"activate_twice", {{Step::Init, true}, {Step::Activate, true}, {Step::Activate, false}}, "init(48000) "},
    {"bad_sample_rates", {{Step::Init, true}, {Step::ActivateZeroRate, false}, {Step::ActivateNanRate, false}}, ""},
    {"start_before_activate", {{Step::Init, true}, {Step::Start, false}, {Step::Process, false}}, ""},
    {"process_without_start", {{Step::Init, true}, {Step::Activate, true}, {Step::Process, false}}, "init(48000) "},
    {"start_twice", {{Step::Init, true}, {Step::Activate, true}, {Step::Start, true}, {Step::Start, false}},
     "init(48000) reset "},
    {"process_after_stop", {{Step::Init, true}, {Step::Activate, true}, {Step::Start, true}, {Step::Stop, true},
                            {Step::Process, false}},
     "init(48000) reset "},
    {"process_after_deactivate", {{Step::Init, true}, {Step::Activate, true}, {Step::Start, true},
                                  {Step::Deactivate, true}, {Step::Process, false}},
     "init(48000) reset deactivate "},
    {"deactivate_when_inactive", {{Step::Init, true}, {Step::Deactivate, true}}, ""},
    {"reset_when_inactive", {{Step::Init, true}, {Step::Reset, true}}, ""},
    {"reactivate", {{Step::Init, true}, {Step::Activate, true}, {Step::Deactivate, true}, {Step::Activate, true}},
     "init(48000) deactivate init(48000) "},
};

class ClapMisuse : public ::testing::TestWithParam<MisuseCase> {};

TEST_P(ClapMisuse, IsRefusedAndNeverReachesTheInstance) {
    const MisuseCase& c = GetParam();
    Instance inst;
    for (size_t i = 0; i < c.steps.size(); ++i) {
        EXPECT_EQ(run_step(inst, c.steps[i].first), c.steps[i].second) << "step " << i;
    }
    EXPECT_EQ(inst.log->calls, c.log);
}

INSTANTIATE_TEST_SUITE_P(Table, ClapMisuse, ::testing::ValuesIn(misuse_cases),
                         [](const ::testing::TestParamInfo<MisuseCase>& p) { return std::string(p.param.name); });

TEST(ClapInstance, DestroyWhileActiveDeactivatesFirst) {
    auto log = std::make_shared<FakeLog>();
    {
        Instance inst;
        log = inst.log;
        inst.start();
    }
    EXPECT_EQ(log->calls, "init(48000) reset deactivate ");
}

// --- processing -----------------------------------------------------------------------

TEST(ClapProcess, ParamStepAtOffsetTakesEffectAtThatSample) {
    const uint32_t frames = 64;
    for (const uint32_t k : {0u, 1u, 17u, 63u, 64u, 200u}) {
        Instance inst;
        inst.start();
        EventList events;
        events.param_value(k, param_id_hash("gain"), 0.25);
        StereoBlock block(ones(frames), ones(frames), false);
        ASSERT_EQ(run_process(inst.plugin, block, frames, events), CLAP_PROCESS_CONTINUE);
        for (uint32_t n = 0; n < frames; ++n) {
            const float expected = n < k ? 0.5f : 0.25f;
            ASSERT_EQ(block.left()[n], expected) << "k " << k << " n " << n;
            ASSERT_EQ(block.right()[n], expected) << "k " << k << " n " << n;
        }
        EXPECT_EQ(inst.params().gain.value(), 0.25f) << "applied by the end of the block";
    }
}

TEST(ClapProcess, EventsAtOneTimeMakeOneSplitAndNotesMakeNone) {
    Instance inst;
    inst.start();
    EventList events;
    events.note_on(5);
    events.param_value(10, param_id_hash("gain"), 0.1);
    events.param_value(10, param_id_hash("steps"), 4.0);
    events.param_mod(10, param_id_hash("gain"), 0.2);
    events.param_value(10, 12345u, 0.7); // not ours: applied nowhere, still a split point
    StereoBlock block(ones(32), ones(32), true);
    run_process(inst.plugin, block, 32, events);
    ASSERT_EQ(inst.log->process.size(), 2u);
    EXPECT_EQ(inst.log->process[0].frames, 10u);
    EXPECT_EQ(inst.log->process[1].frames, 22u);
    EXPECT_FLOAT_EQ(inst.log->process[1].gain, 0.1f + 0.2f) << "value plus modulation";
    EXPECT_EQ(inst.params().steps.value(), 4);
}

TEST(ClapProcess, ModulationIsAnOffsetInHostUnits) {
    Instance inst;
    inst.start();
    EventList events;
    events.param_mod(0, param_id_hash("steps"), -1.0); // one step down from 2
    events.param_mod(0, param_id_hash("gain"), 0.25);
    StereoBlock block(ones(8), ones(8), true);
    run_process(inst.plugin, block, 8, events);
    EXPECT_EQ(inst.params().steps.value(), 1);
    EXPECT_EQ(inst.params().steps.unmodulated_value(), 2);
    EXPECT_EQ(block.left()[0], 0.75f);
    double value = -1.0;
    const auto* params = inst.ext<clap_plugin_params>(CLAP_EXT_PARAMS);
    ASSERT_TRUE(params->get_value(inst.plugin, param_id_hash("gain"), &value));
    EXPECT_EQ(value, 0.5) << "get_value reports the unmodulated value";
}

TEST(ClapProcess, NonFiniteHostValuesAreIgnored) {
    Instance inst;
    inst.start();
    EventList events;
    events.param_value(0, param_id_hash("gain"), std::numeric_limits<double>::quiet_NaN());
    events.param_value(1, param_id_hash("gain"), std::numeric_limits<double>::infinity());
    events.param_mod(2, param_id_hash("gain"), -std::numeric_limits<double>::infinity());
    events.param_value(3, param_id_hash("steps"), std::numeric_limits<double>::quiet_NaN());
    StereoBlock block(ones(8), ones(8), true);
    run_process(inst.plugin, block, 8, events);
    EXPECT_EQ(inst.params().gain.value(), 0.5f);
    EXPECT_EQ(inst.params().steps.value(), 2);
    for (uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(block.left()[n], 0.5f);
    }
}

TEST(ClapProcess, TransportFromTheBlockThenFromEventsAtTheirTimes) {
    Instance inst;
    inst.start();
    clap_event_transport start{};
    start.flags = CLAP_TRANSPORT_HAS_TEMPO;
    start.tempo = 120.0;
    EventList events;
    events.transport(12, true, 140.0);
    StereoBlock block(ones(32), ones(32), true);
    run_process(inst.plugin, block, 32, events, &start);
    ASSERT_EQ(inst.log->process.size(), 2u);
    EXPECT_EQ(inst.log->process[0].frames, 12u);
    EXPECT_FALSE(inst.log->process[0].playing);
    EXPECT_EQ(inst.log->process[0].tempo, 120.0);
    EXPECT_TRUE(inst.log->process[1].playing);
    EXPECT_EQ(inst.log->process[1].tempo, 140.0);

    // A free-running host (no transport) reports stopped and no tempo.
    StereoBlock next(ones(8), ones(8), true);
    run_process(inst.plugin, next, 8, EventList{});
    EXPECT_FALSE(inst.log->process.back().playing);
    EXPECT_FALSE(inst.log->process.back().tempo.has_value());
}

TEST(ClapProcess, ZeroFrameBlockStillCallsTheInstanceOnceWithChangesApplied) {
    Instance inst;
    inst.start();
    EventList events;
    events.param_value(0, param_id_hash("gain"), 0.9);
    StereoBlock block(ones(1), ones(1), true);
    EXPECT_EQ(run_process(inst.plugin, block, 0, events), CLAP_PROCESS_CONTINUE);
    ASSERT_EQ(inst.log->process.size(), 1u);
    EXPECT_EQ(inst.log->process[0].frames, 0u);
    EXPECT_EQ(inst.log->process[0].gain, 0.9f);
    EXPECT_EQ(block.left()[0], 1.0f) << "no frame touched";
}

TEST(ClapProcess, OneBlockAndRandomHostSplitsGiveTheSameOutput) {
    const uint32_t frames = 1024;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    std::uniform_int_distribution<uint32_t> time(0, frames - 1);
    std::uniform_real_distribution<double> value(0.0, 1.0);
    std::vector<float> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = sample(rng);
        right[i] = sample(rng);
    }
    std::vector<uint32_t> times(12);
    for (auto& t : times) {
        t = time(rng);
    }
    std::sort(times.begin(), times.end());
    EventList events;
    for (const uint32_t t : times) {
        events.param_value(t, param_id_hash("gain"), value(rng));
        if (t % 3 == 0) {
            events.param_mod(t, param_id_hash("gain"), value(rng) - 0.5);
        }
    }

    Instance whole;
    whole.start();
    StereoBlock one(left, right, false);
    run_process(whole.plugin, one, frames, events);

    for (int trial = 0; trial < 5; ++trial) {
        Instance split;
        split.start();
        std::vector<float> out_l, out_r;
        uint32_t begin = 0;
        std::uniform_int_distribution<uint32_t> length(0, 200);
        while (begin < frames) {
            const uint32_t end = std::min(frames, begin + length(rng));
            const std::vector<float> l(left.begin() + begin, left.begin() + end);
            const std::vector<float> r(right.begin() + begin, right.begin() + end);
            StereoBlock piece(l, r, trial % 2 == 0);
            run_process(split.plugin, piece, end - begin, events.slice(begin, end, end == frames));
            out_l.insert(out_l.end(), piece.left(), piece.left() + (end - begin));
            out_r.insert(out_r.end(), piece.right(), piece.right() + (end - begin));
            begin = end;
        }
        for (uint32_t n = 0; n < frames; ++n) {
            ASSERT_EQ(out_l[n], one.left()[n]) << "trial " << trial << " n " << n;
            ASSERT_EQ(out_r[n], one.right()[n]) << "trial " << trial << " n " << n;
        }
    }
}

// --- params ------------------------------------------------------------------------------

TEST(ClapParams, InfoFollowsTheKindOfEachParameter) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    const auto* params = inst.ext<clap_plugin_params>(CLAP_EXT_PARAMS);
    ASSERT_EQ(params->count(inst.plugin), 4u);
    struct Expected {
        const char* id;
        const char* name;
        bool stepped;
        double max;
        double def;
    };
    const Expected expected[] = {
        {"gain", "Gain", false, 1.0, 0.5}, {"steps", "Steps", true, 4.0, 2.0},
        {"toggle", "Toggle", true, 1.0, 0.0}, {"choice", "Choice", true, 2.0, 1.0}};
    for (uint32_t i = 0; i < 4; ++i) {
        clap_param_info info{};
        ASSERT_TRUE(params->get_info(inst.plugin, i, &info));
        EXPECT_EQ(info.id, param_id_hash(expected[i].id));
        EXPECT_STREQ(info.name, expected[i].name);
        EXPECT_STREQ(info.module, "");
        EXPECT_EQ(info.cookie, nullptr);
        const uint32_t flags = CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_MODULATABLE |
                               (expected[i].stepped ? CLAP_PARAM_IS_STEPPED : 0u);
        EXPECT_EQ(info.flags, flags) << expected[i].id;
        EXPECT_EQ(info.min_value, 0.0);
        EXPECT_EQ(info.max_value, expected[i].max) << expected[i].id;
        EXPECT_EQ(info.default_value, expected[i].def) << expected[i].id;
    }
    clap_param_info info{};
    EXPECT_FALSE(params->get_info(inst.plugin, 4, &info));
}

TEST(ClapParams, TextsValuesAndFlush) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    const auto* params = inst.ext<clap_plugin_params>(CLAP_EXT_PARAMS);
    char text[64];
    ASSERT_TRUE(params->value_to_text(inst.plugin, param_id_hash("choice"), 2.0, text, sizeof text));
    EXPECT_STREQ(text, "C");
    ASSERT_TRUE(params->value_to_text(inst.plugin, param_id_hash("toggle"), 1.0, text, sizeof text));
    EXPECT_STREQ(text, "On");
    char tiny[2];
    ASSERT_TRUE(params->value_to_text(inst.plugin, param_id_hash("toggle"), 0.0, tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "O") << "cut to the buffer, still terminated";
    EXPECT_FALSE(params->value_to_text(inst.plugin, 99u, 0.0, text, sizeof text));
    EXPECT_FALSE(params->value_to_text(inst.plugin, param_id_hash("gain"),
                                       std::numeric_limits<double>::quiet_NaN(), text, sizeof text));
    double v = -1.0;
    ASSERT_TRUE(params->text_to_value(inst.plugin, param_id_hash("choice"), "B", &v));
    EXPECT_EQ(v, 1.0);
    ASSERT_TRUE(params->text_to_value(inst.plugin, param_id_hash("steps"), "+3", &v));
    EXPECT_EQ(v, 3.0);
    EXPECT_FALSE(params->text_to_value(inst.plugin, param_id_hash("choice"), "b", &v));
    EXPECT_FALSE(params->text_to_value(inst.plugin, param_id_hash("choice"), nullptr, &v));

    EventList events;
    events.param_value(0, param_id_hash("choice"), 2.0);
    events.param_value(0, param_id_hash("toggle"), 1.0);
    params->flush(inst.plugin, events.list(), nullptr);
    ASSERT_TRUE(params->get_value(inst.plugin, param_id_hash("choice"), &v));
    EXPECT_EQ(v, 2.0);
    EXPECT_EQ(inst.params().toggle.value(), true);
    EXPECT_FALSE(params->get_value(inst.plugin, 99u, &v));
}

// --- state --------------------------------------------------------------------------------

std::string save(Instance& inst, uint64_t piece) {
    PieceOutStream out(piece);
    EXPECT_TRUE(inst.ext<clap_plugin_state>(CLAP_EXT_STATE)->save(inst.plugin, &out.stream));
    return out.bytes;
}

TEST(ClapState, SavesLengthPrefixedJsonThroughSmallPieces) {
    Instance inst;
    ASSERT_TRUE(inst.plugin->init(inst.plugin));
    const std::string json = plugin_kit::write_state_json(inst.params(), "1.2.3");
    std::string expected(8, '\0');
    for (size_t i = 0; i < 8; ++i) {
        expected[i] = static_cast<char>(static_cast<uint64_t>(json.size()) >> (8 * i));
    }
    expected += json;
    EXPECT_EQ(save(inst, 1), expected);
    EXPECT_EQ(save(inst, 17), expected);
    EXPECT_NE(json.find("\"version\":\"1.2.3\""), std::string::npos);

    PieceOutStream refusing(0);
    EXPECT_FALSE(inst.ext<clap_plugin_state>(CLAP_EXT_STATE)->save(inst.plugin, &refusing.stream));
}

TEST(ClapState, LoadsThroughSmallPiecesAndReinitialisesOnceActivated) {
    Instance source;
    ASSERT_TRUE(source.plugin->init(source.plugin));
    source.params().gain.set_plain_value(0.125f);
    source.params().choice.set_plain_value(2);
    source.params().toggle.set_plain_value(true);
    const std::string bytes = save(source, 4096);

    for (const uint64_t piece : {1u, 17u}) {
        Instance target;
        ASSERT_TRUE(target.plugin->init(target.plugin));
        const auto* state = target.ext<clap_plugin_state>(CLAP_EXT_STATE);
        PieceInStream in(bytes, piece);
        ASSERT_TRUE(state->load(target.plugin, &in.stream));
        EXPECT_EQ(save(target, 4096), bytes);
        EXPECT_EQ(target.log->calls, "") << "never activated: no sample rate to prepare for";

        ASSERT_TRUE(target.plugin->activate(target.plugin, 44100.0, 1, 512));
        target.plugin->deactivate(target.plugin);
        target.log->calls.clear();
        PieceInStream again(bytes, piece);
        ASSERT_TRUE(state->load(target.plugin, &again.stream));
        EXPECT_EQ(target.log->calls, "init(44100) reset ") << "the last known rate, after deactivation too";
    }
}

TEST(ClapState, ShortOrInvalidStreamsFailAndChangeNothing) {
    Instance source;
    ASSERT_TRUE(source.plugin->init(source.plugin));
    source.params().gain.set_plain_value(0.125f);
    const std::string good = save(source, 4096);
    const std::string json = good.substr(8);
    std::string long_prefix = good;
    long_prefix[0] = static_cast<char>(long_prefix[0] + 1); // announces one byte more than follows
    std::string bad_json = good;
    bad_json[8 + json.find("params")] = 'X';

    const std::string cases[] = {
        "",
        good.substr(0, 5),
        good.substr(0, 8),
        good.substr(0, good.size() - 1),
        long_prefix,
        bad_json,
    };
    for (const std::string& bytes : cases) {
        for (const uint64_t piece : {1u, 17u}) {
            Instance target;
            target.start();
            const std::string before = save(target, 4096);
            target.log->calls.clear();
            PieceInStream in(bytes, piece);
            EXPECT_FALSE(target.ext<clap_plugin_state>(CLAP_EXT_STATE)->load(target.plugin, &in.stream))
                << bytes.size() << " bytes, piece " << piece;
            EXPECT_EQ(save(target, 4096), before);
            EXPECT_EQ(target.log->calls, "") << "no re-initialisation after a failed load";
        }
    }
}

TEST(ClapEditor, StateLoadTellsTheEditorThatEveryValueMayHaveChanged) {
    Instance source;
    ASSERT_TRUE(source.plugin->init(source.plugin));
    source.params().gain.set_plain_value(0.125f);
    const std::string bytes = save(source, 4096);

    Instance target;
    ASSERT_TRUE(target.plugin->init(target.plugin));
    PieceInStream in(bytes, 4096);
    ASSERT_TRUE(target.ext<clap_plugin_state>(CLAP_EXT_STATE)->load(target.plugin, &in.stream));
    EXPECT_EQ(target.log->editor, (std::vector<std::string>{"values"}));

    PieceInStream broken(bytes.substr(0, 5), 4096);
    EXPECT_FALSE(target.ext<clap_plugin_state>(CLAP_EXT_STATE)->load(target.plugin, &broken.stream));
    EXPECT_EQ(target.log->editor.size(), 1u) << "a failed load changes nothing to report";
}

} // namespace
