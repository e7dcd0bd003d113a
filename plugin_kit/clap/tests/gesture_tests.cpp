// Editor gestures through the CLAP adapter: what the host receives as output
// events, when it is asked for a flush, and what the parameters hold after.

#include "plugin_kit/clap/clap_adapter.hpp"

#include "fake_plugin.hpp"
#include "test_host.hpp"

#include "plugin_kit/params/param_id.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace clap_test;
using plugin_kit::param_id_hash;

std::shared_ptr<FakeLog> g_gesture_log;

const clap_plugin_factory* gesture_factory() {
    static plugin_kit::ClapPluginFactory factory(
        plugin_kit::ClapPluginInfo{"org.example.gestures", "Gestures", "Example", "", "1.0.0", "", {"audio-effect"}},
        []() -> std::unique_ptr<plugin_kit::Plugin> { return std::make_unique<FakePlugin>(g_gesture_log); });
    return factory.factory();
}

// Host side of "clap.params" as CLAP lays it out; only request_flush counts.
struct HostParams {
    void (*rescan)(const clap_host*, uint32_t);
    void (*clear)(const clap_host*, clap_id, uint32_t);
    void (*request_flush)(const clap_host*);
};

int g_flush_requests = 0;

// One recorded output event: type, parameter id, value (values only).
struct OutEvent {
    uint16_t type;
    clap_id id;
    double value;
    bool operator==(const OutEvent&) const = default;
};

struct OutRecorder {
    std::vector<OutEvent> events;
    clap_output_events list{this, [](const clap_output_events* l, const clap_event_header* e) {
                                auto* self = static_cast<OutRecorder*>(l->ctx);
                                clap_id id = 0;
                                std::memcpy(&id, reinterpret_cast<const char*>(e) + sizeof(clap_event_header), sizeof id);
                                double value = 0.0;
                                if (e->type == CLAP_EVENT_PARAM_VALUE) {
                                    value = reinterpret_cast<const clap_event_param_value*>(e)->value;
                                }
                                self->events.push_back({e->type, id, value});
                                return true;
                            }};
};

class ClapGestures : public ::testing::Test {
protected:
    void SetUp() override {
        g_gesture_log = log;
        g_flush_requests = 0;
        host.host.get_extension = [](const clap_host*, const char* id) -> const void* {
            static const HostParams host_params{[](const clap_host*, uint32_t) {},
                                           [](const clap_host*, clap_id, uint32_t) {},
                                           [](const clap_host*) { ++g_flush_requests; }};
            return std::strcmp(id, CLAP_EXT_PARAMS) == 0 ? &host_params : nullptr;
        };
        plugin = gesture_factory()->create_plugin(gesture_factory(), &host.host, "org.example.gestures");
        ASSERT_NE(plugin, nullptr);
        ASSERT_TRUE(plugin->init(plugin));
        gui = static_cast<const clap_plugin_gui*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
        params = static_cast<const clap_plugin_params*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        ASSERT_TRUE(gui->create(plugin, "x11", false));
        clap_window window{};
        window.api = "x11";
        window.x11 = 42;
        ASSERT_TRUE(gui->set_parent(plugin, &window));
        ASSERT_NE(log->context, nullptr);
    }
    void TearDown() override {
        if (plugin != nullptr) {
            plugin->destroy(plugin);
        }
    }
    double value_of(const char* id) {
        double v = -1.0;
        params->get_value(plugin, param_id_hash(id), &v);
        return v;
    }

    TestHost host;
    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
    const clap_plugin* plugin = nullptr;
    const clap_plugin_gui* gui = nullptr;
    const clap_plugin_params* params = nullptr;
};

TEST_F(ClapGestures, WhileIdleTheHostIsAskedForAFlushThatCarriesTheWholeGesture) {
    plugin_kit::GuiContext& context = *log->context;
    context.begin_edit("gain");
    context.set_value("gain", 0.25f);
    context.set_value("gain", 7.0f);        // clamped to 1
    context.set_value("no_such_id", 0.5f);  // not a parameter: dropped
    context.end_edit("gain");
    EXPECT_GE(g_flush_requests, 1);
    EXPECT_DOUBLE_EQ(value_of("gain"), 0.5) << "nothing applied before the host flushes";

    OutRecorder out;
    const EventList none;
    params->flush(plugin, none.list(), &out.list);
    const clap_id gain = param_id_hash("gain");
    EXPECT_EQ(out.events, (std::vector<OutEvent>{{CLAP_EVENT_PARAM_GESTURE_BEGIN, gain, 0.0},
                                                 {CLAP_EVENT_PARAM_VALUE, gain, 0.25},
                                                 {CLAP_EVENT_PARAM_VALUE, gain, 1.0},
                                                 {CLAP_EVENT_PARAM_GESTURE_END, gain, 0.0}}));
    EXPECT_DOUBLE_EQ(value_of("gain"), 1.0);

    OutRecorder again;
    params->flush(plugin, none.list(), &again.list);
    EXPECT_TRUE(again.events.empty()) << "each gesture is reported once";
}

TEST_F(ClapGestures, WhileProcessingTheNextBlockReportsAndUsesTheValue) {
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 4096));
    ASSERT_TRUE(plugin->start_processing(plugin));
    log->context->begin_edit("gain");
    log->context->set_value("gain", 0.75f);
    EXPECT_EQ(g_flush_requests, 0) << "the running host reports it with the next block";

    StereoBlock block(std::vector<float>(16, 1.0f), std::vector<float>(16, 1.0f), false);
    OutRecorder out;
    clap_process p{};
    p.steady_time = -1;
    p.frames_count = 16;
    p.audio_inputs = &block.input;
    p.audio_outputs = &block.output;
    p.audio_inputs_count = 1;
    p.audio_outputs_count = 1;
    const EventList none;
    p.in_events = none.list();
    p.out_events = &out.list;
    ASSERT_EQ(plugin->process(plugin, &p), CLAP_PROCESS_CONTINUE);
    const clap_id gain = param_id_hash("gain");
    EXPECT_EQ(out.events, (std::vector<OutEvent>{{CLAP_EVENT_PARAM_GESTURE_BEGIN, gain, 0.0},
                                                 {CLAP_EVENT_PARAM_VALUE, gain, 0.75}}));
    EXPECT_FLOAT_EQ(block.left()[0], 0.75f) << "the block already runs with the new value";
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
}

} // namespace
