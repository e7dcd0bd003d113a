// The controller side and the state: parameter information and texts,
// conversions, state save and load (with broken streams), and the view.

#include "test_host.hpp"

#include "plugin_kit/params/param_id.hpp"
#include "plugin_kit/state/state.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace vst3_test;

const ParamID level_id = param_id_hash("level");
const ParamID freq_id = param_id_hash("freq");
const ParamID count_id = param_id_hash("count");
const ParamID enable_id = param_id_hash("enable");
const ParamID mode_id = param_id_hash("mode");

std::u16string text_of(const char16* s) { return std::u16string(s); }

TEST(Vst3Controller, ParameterInformation) {
    Instance inst;
    ASSERT_EQ(inst.ctrl().get_parameter_count(inst.controller), 5);
    struct Expected {
        ParamID id;
        std::u16string title;
        std::u16string units;
        int32 steps;
        double default_normalized;
    };
    const Expected expected[] = {
        {level_id, u"Level", u" x", 0, 0.5},
        {freq_id, u"Frequency", u" Hz", 0, static_cast<double>(inst.plugin->params_->freq.default_normalized_value())},
        {count_id, u"Count", u"", 14, static_cast<double>(2.0f / 14.0f)},
        {enable_id, u"Enable", u"", 1, 0.0},
        {mode_id, u"Mode", u"", 2, 0.0},
    };
    for (int32 i = 0; i < 5; ++i) {
        ParameterInfo info;
        std::memset(&info, 0x5A, sizeof info);
        ASSERT_EQ(inst.ctrl().get_parameter_info(inst.controller, i, &info), kResultOk);
        const Expected& e = expected[i];
        EXPECT_EQ(info.id, e.id) << i;
        EXPECT_EQ(text_of(info.title), e.title) << i;
        EXPECT_EQ(text_of(info.short_title), e.title) << i;
        EXPECT_EQ(text_of(info.units), e.units) << i;
        EXPECT_EQ(info.step_count, e.steps) << i;
        EXPECT_DOUBLE_EQ(info.default_normalized_value, e.default_normalized) << i;
        EXPECT_EQ(info.unit_id, kRootUnitId) << i;
        EXPECT_EQ(info.flags, kCanAutomate) << i;
        EXPECT_EQ(inst.normalized(e.id), info.default_normalized_value) << i;
    }
    ParameterInfo info;
    EXPECT_EQ(inst.ctrl().get_parameter_info(inst.controller, 5, &info), kInvalidArgument);
    EXPECT_EQ(inst.ctrl().get_parameter_info(inst.controller, -1, &info), kInvalidArgument);
    EXPECT_EQ(inst.ctrl().get_parameter_info(inst.controller, 0, nullptr), kInvalidArgument);
}

TEST(Vst3Controller, TextsBothWays) {
    Instance inst;
    struct ToText {
        ParamID id;
        double normalized;
        std::u16string text;
    };
    const ToText to_text[] = {
        {level_id, 0.5, u"1.00"}, {freq_id, 1.0, u"5.0 kHz"}, {count_id, 1.0 / 7.0, u"4"},
        {enable_id, 0.5, u"Off"}, {enable_id, 0.51, u"On"},   {mode_id, 1.0, u"Swarm"},
    };
    for (const ToText& t : to_text) {
        String128 out{};
        ASSERT_EQ(inst.ctrl().get_param_string_by_value(inst.controller, t.id, t.normalized, out), kResultOk);
        EXPECT_EQ(text_of(out), t.text);
    }
    String128 out{};
    EXPECT_EQ(inst.ctrl().get_param_string_by_value(inst.controller, 999, 0.5, out), kInvalidArgument);

    struct FromText {
        ParamID id;
        std::u16string text;
        tresult result;
        double normalized;
    };
    const FromText from_text[] = {
        {level_id, u"1.5 x", kResultOk, 0.75},
        {level_id, u"  0.5 ", kResultOk, 0.25},
        {level_id, u"loud", kResultFalse, 0.0},
        {count_id, u"+16", kResultOk, 1.0},
        {count_id, u"5.0", kResultFalse, 0.0},
        {enable_id, u"ON", kResultOk, 1.0},
        {mode_id, u"Stoch", kResultOk, 0.5},
        {mode_id, u"stoch", kResultFalse, 0.0},
    };
    for (const FromText& t : from_text) {
        std::u16string text = t.text;
        ParamValue value = -1.0;
        EXPECT_EQ(inst.ctrl().get_param_value_by_string(inst.controller, t.id, text.data(), &value), t.result);
        if (t.result == kResultOk) {
            EXPECT_DOUBLE_EQ(value, t.normalized);
        } else {
            EXPECT_EQ(value, -1.0) << "a failed conversion must leave the output alone";
        }
    }
}

TEST(Vst3Controller, NormalisedAndPlainConvertBothWays) {
    Instance inst;
    struct Case {
        ParamID id;
        double normalized;
        double plain;
    };
    const Case cases[] = {
        {level_id, 0.25, 0.5}, {freq_id, 0.5, 350.0}, {count_id, 0.5, 9.0},
        {enable_id, 1.0, 1.0}, {mode_id, 0.5, 1.0},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(inst.ctrl().normalized_param_to_plain(inst.controller, c.id, c.normalized), c.plain, 1e-3);
        const double back = inst.ctrl().plain_param_to_normalized(inst.controller, c.id, c.plain);
        EXPECT_NEAR(inst.ctrl().normalized_param_to_plain(inst.controller, c.id, back), c.plain, 1e-3);
    }
    // Out of range plain values end at the limits.
    EXPECT_EQ(inst.ctrl().plain_param_to_normalized(inst.controller, level_id, 50.0), 1.0);
    EXPECT_EQ(inst.ctrl().plain_param_to_normalized(inst.controller, count_id, -1e12), 0.0);

    EXPECT_EQ(inst.set_normalized(level_id, 0.75), kResultOk);
    EXPECT_FLOAT_EQ(inst.plugin->params_->level.value(), 1.5f);
    EXPECT_DOUBLE_EQ(inst.normalized(level_id), 0.75);
    EXPECT_EQ(inst.editor->value_change_count(), 1u);
    EXPECT_EQ(inst.set_normalized(4242, 0.75), kInvalidArgument);
}

// Changes every parameter away from its default.
void change_all(Instance& inst) {
    inst.set_normalized(level_id, 0.75);
    inst.set_normalized(freq_id, 0.9);
    inst.set_normalized(count_id, 1.0);
    inst.set_normalized(enable_id, 1.0);
    inst.set_normalized(mode_id, 1.0);
}

std::vector<double> all_values(Instance& inst) {
    return {inst.normalized(level_id), inst.normalized(freq_id), inst.normalized(count_id),
            inst.normalized(enable_id), inst.normalized(mode_id)};
}

TEST(Vst3State, SavesTheJsonTextUnframedAndLoadsItBack) {
    Instance a;
    change_all(a);
    MemoryStream saved;
    ASSERT_EQ(a.save(saved), kResultOk);
    EXPECT_EQ(saved.data, write_state_json(*a.plugin->params_, "0.1.0")) << "no prefix, no terminator";

    // The controller writes the same text.
    MemoryStream from_controller;
    ASSERT_EQ(a.ctrl().get_state(a.controller, from_controller.stream()), kResultOk);
    EXPECT_EQ(from_controller.data, saved.data);

    // Loading through the component and through the controller's
    // setComponentState both restore every value.
    for (const bool via_controller : {false, true}) {
        Instance b;
        ASSERT_NE(all_values(b), all_values(a));
        MemoryStream in;
        in.data = saved.data;
        const tresult r = via_controller ? b.ctrl().set_component_state(b.controller, in.stream()) : b.load(in);
        ASSERT_EQ(r, kResultOk);
        EXPECT_EQ(all_values(b), all_values(a));
        EXPECT_EQ(b.editor->values_changed_count(), 1u);
        EXPECT_EQ(b.plugin->initialize_count, 0) << "never activated: nothing to prepare again";
    }
}

TEST(Vst3State, ReadsFromTheCurrentPositionToTheEnd) {
    Instance a;
    change_all(a);
    MemoryStream saved;
    a.save(saved);
    Instance b;
    MemoryStream in;
    in.data = "HOSTHEADER" + saved.data;
    in.pos = 10;
    ASSERT_EQ(b.load(in), kResultOk);
    EXPECT_EQ(all_values(b), all_values(a));
}

TEST(Vst3State, LoadAfterActivationPreparesThePluginAgain) {
    Instance inst;
    inst.start(88200.0);
    inst.set_active(false); // a deactivation does not forget the rate
    MemoryStream saved;
    inst.save(saved);
    const int inits = inst.plugin->initialize_count;
    const int resets = inst.plugin->reset_count;
    MemoryStream in;
    in.data = saved.data;
    ASSERT_EQ(inst.load(in), kResultOk);
    EXPECT_EQ(inst.plugin->initialize_count, inits + 1);
    EXPECT_EQ(inst.plugin->reset_count, resets + 1);
    EXPECT_EQ(inst.plugin->sample_rate, 88200.0f);
}

TEST(Vst3State, BrokenStreamsChangeNothing) {
    Instance source;
    change_all(source);
    MemoryStream good;
    source.save(good);
    const std::string text = good.data;

    struct Case {
        const char* name;
        std::string data;
        bool fail_seek = false;
        int32 read_shortfall = 0;
    };
    const Case cases[] = {
        {"empty", ""},
        {"garbage", "\x01\x02garbage\xff"},
        {"cut short", text.substr(0, text.size() / 2)},
        {"without fields", R"({"version":"0.1.0","params":{"level":{"f32":0.25}}})"},
        {"wrong key", R"({"params":{"level":{"f64":0.25}},"fields":{}})"},
        {"length-prefixed", std::string("\x10\0\0\0\0\0\0\0", 8) + text},
        {"seek fails", text, true, 0},
        {"short read", text, false, 1},
    };
    for (const Case& c : cases) {
        Instance inst;
        const std::vector<double> before = all_values(inst);
        MemoryStream in;
        in.data = c.data;
        in.fail_seek = c.fail_seek;
        in.read_shortfall = c.read_shortfall;
        EXPECT_EQ(inst.load(in), kResultFalse) << c.name;
        EXPECT_EQ(all_values(inst), before) << c.name;
        EXPECT_EQ(inst.editor->values_changed_count(), 0u) << c.name;
    }
    Instance inst;
    EXPECT_EQ(inst.comp().set_state(inst.component, nullptr), kInvalidArgument);
}

TEST(Vst3State, StreamsThatDeliverInPiecesLoadWhole) {
    Instance source;
    change_all(source);
    MemoryStream saved;
    ASSERT_EQ(source.save(saved), kResultOk);
    for (const int32 chunk : {1, 17}) {
        Instance inst;
        MemoryStream in;
        in.data = saved.data;
        in.read_chunk = chunk;
        ASSERT_EQ(inst.load(in), kResultOk) << chunk << "-byte reads";
        EXPECT_EQ(all_values(inst), all_values(source)) << chunk << "-byte reads";
    }
}

TEST(Vst3State, NumbersBeyondFloatRangeAreSkipped) {
    Instance inst;
    MemoryStream in;
    in.data = R"({"params":{"level":{"f32":1e39},"count":{"i32":9}},"fields":{}})";
    ASSERT_EQ(inst.load(in), kResultOk);
    EXPECT_EQ(inst.plugin->params_->level.value(), 1.0f) << "1e39 is no float: skipped";
    EXPECT_EQ(inst.plugin->params_->count.value(), 9) << "the rest of the state still applies";
}

TEST(Vst3State, PartialWritesAreCompletedAndRefusalsReported) {
    Instance inst;
    change_all(inst);
    MemoryStream whole;
    ASSERT_EQ(inst.save(whole), kResultOk);

    MemoryStream trickle;
    trickle.write_chunk = 7;
    ASSERT_EQ(inst.save(trickle), kResultOk);
    EXPECT_EQ(trickle.data, whole.data);

    MemoryStream refusing;
    refusing.fail_write = true;
    EXPECT_EQ(inst.save(refusing), kResultFalse);
    EXPECT_EQ(inst.comp().get_state(inst.component, nullptr), kInvalidArgument);
}

TEST(Vst3View, NoWindowEditorBehindAnX11View) {
    Instance inst;
    EXPECT_EQ(inst.ctrl().create_view(inst.controller, "other"), nullptr);
    EXPECT_EQ(inst.ctrl().create_view(inst.controller, nullptr), nullptr);
    IPlugView* view = inst.ctrl().create_view(inst.controller, "editor");
    ASSERT_NE(view, nullptr);
    const IPlugViewVtbl& v = *view->vtbl;

    EXPECT_EQ(v.is_platform_type_supported(view, "X11EmbedWindowID"), kResultTrue);
    EXPECT_EQ(v.is_platform_type_supported(view, "HWND"), kResultFalse);
    EXPECT_EQ(v.is_platform_type_supported(view, nullptr), kResultFalse);

    ViewRect size{};
    ASSERT_EQ(v.get_size(view, &size), kResultOk);
    EXPECT_EQ(size.right - size.left, 900);
    EXPECT_EQ(size.bottom - size.top, 600);
    EXPECT_EQ(v.can_resize(view), kResultFalse);
    ViewRect proposal{10, 20, 50, 60};
    EXPECT_EQ(v.check_size_constraint(view, &proposal), kResultTrue);
    EXPECT_EQ(proposal.right - proposal.left, 900);
    EXPECT_EQ(proposal.bottom - proposal.top, 600);

    void* parent = reinterpret_cast<void*>(0x4200001);
    EXPECT_EQ(v.attached(view, parent, "HWND"), kInvalidArgument);
    EXPECT_EQ(inst.editor->open_count(), 0u);
    ASSERT_EQ(v.attached(view, parent, "X11EmbedWindowID"), kResultOk);
    EXPECT_EQ(inst.editor->open_count(), 1u);
    EXPECT_EQ(v.attached(view, parent, "X11EmbedWindowID"), kResultFalse) << "already attached";
    ASSERT_EQ(v.removed(view), kResultOk);
    EXPECT_EQ(inst.editor->open_count(), 0u);
    EXPECT_EQ(v.removed(view), kResultFalse);

    void* obj = nullptr;
    EXPECT_EQ(v.query_interface(view, reinterpret_cast<const char*>(IPlugView_iid.data()), &obj), kResultOk);
    EXPECT_EQ(obj, view);
    v.release(view);
    EXPECT_EQ(v.query_interface(view, reinterpret_cast<const char*>(IComponent_iid.data()), &obj), kNoInterface);
    EXPECT_EQ(obj, nullptr);

    // The view keeps its instance alive: attached again after the host let
    // go of everything else, then released last.
    ASSERT_EQ(v.attached(view, parent, "X11EmbedWindowID"), kResultOk);
    release(inst.controller);
    release(inst.processor);
    release(inst.component);
    inst.controller = inst.processor = inst.component = nullptr;
    EXPECT_EQ(FakePlugin::live.load(), 1);
    EXPECT_EQ(v.release(view), 0u);
    EXPECT_EQ(FakePlugin::live.load(), 0);
}

TEST(Vst3View, NoEditorNoView) {
    Vst3Descriptor d = test_descriptor;
    d.create_plugin = make_fake_plugin_without_editor;
    Instance inst(d);
    EXPECT_EQ(inst.plugin->editor_requests, 1);
    EXPECT_EQ(inst.ctrl().create_view(inst.controller, "editor"), nullptr);
}

} // namespace
