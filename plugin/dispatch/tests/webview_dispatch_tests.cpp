#include "plugin/dispatch/webview_dispatch.hpp"

#include <atomic>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin/presets/tessellgrove_preset.hpp"
#include "webview/state/web_view_state.hpp"

namespace {

using tessellgrove::PresetCommand;
using webview::ParamMessage;
using webview::WebViewState;

std::vector<std::string> drain_scripts(WebViewState& state) {
    std::vector<std::string> out;
    while (auto statement = state.try_recv_script()) {
        out.push_back(std::move(*statement));
    }
    return out;
}

// The instance's side of the dispatcher, as built by its constructor.
struct Instance {
    tessellgrove::TessellgroveParams params;
    WebViewState web_view_state{900, 600};
    std::atomic<float> host_tempo{120.0f};
    std::atomic<bool> host_playing{false};
    tessellgrove::PresetCommandSender preset_tx;
    tessellgrove::PresetCommandReceiver preset_rx;

    Instance() { std::tie(preset_tx, preset_rx) = tessellgrove::make_preset_command_queue(); }

    void dispatch(ParamMessage message) {
        tessellgrove::dispatch_webview_message(std::move(message), params, web_view_state, preset_tx, host_tempo,
                                               host_playing);
    }

    // Every command sent so far (closes the queue to read without waiting).
    std::vector<PresetCommand> sent_commands() {
        preset_tx.reset();
        std::vector<PresetCommand> out;
        while (auto command = preset_rx.recv()) {
            out.push_back(std::move(*command));
        }
        return out;
    }
};

std::string transport_statement(const char* bpm, const char* playing) {
    return std::string("if (window._updateTransport) window._updateTransport(") + bpm + ", " + playing + ");";
}

TEST(DispatchWebviewMessage, TransportRequestAnswersWithTheStoredCells) {
    Instance instance;
    instance.dispatch(ParamMessage{ParamMessage::RequestTransport{}}); // before the host reported a tempo
    instance.host_tempo = 87.25f;
    instance.host_playing = true;
    instance.dispatch(ParamMessage{ParamMessage::RequestTransport{}});
    instance.host_tempo = 1500.0f; // passed as stored, not clamped
    instance.dispatch(ParamMessage{ParamMessage::RequestTransport{}});
    EXPECT_EQ(drain_scripts(instance.web_view_state),
              (std::vector<std::string>{transport_statement("120", "false"), transport_statement("87.25", "true"),
                                        transport_statement("1500", "true")}));
    EXPECT_TRUE(instance.sent_commands().empty());
}

// Each preset request becomes exactly one command carrying the page's data.
TEST(DispatchWebviewMessage, PresetRequestsBecomeCommandsInOrder) {
    Instance instance;
    instance.dispatch(ParamMessage{ParamMessage::RequestPresets{}});
    instance.dispatch(ParamMessage{ParamMessage::LoadPreset{"Ambient Wash", true}});
    instance.dispatch(ParamMessage{ParamMessage::LoadPreset{"Mine", false}});
    instance.dispatch(ParamMessage{ParamMessage::DeletePreset{"Old One"}});
    const auto commands = instance.sent_commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_TRUE(std::holds_alternative<PresetCommand::List>(commands[0].request));
    const auto* factory = std::get_if<PresetCommand::Load>(&commands[1].request);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->name, "Ambient Wash");
    EXPECT_TRUE(factory->is_factory);
    const auto* user = std::get_if<PresetCommand::Load>(&commands[2].request);
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->name, "Mine");
    EXPECT_FALSE(user->is_factory);
    const auto* removal = std::get_if<PresetCommand::Delete>(&commands[3].request);
    ASSERT_NE(removal, nullptr);
    EXPECT_EQ(removal->name, "Old One");
    EXPECT_TRUE(drain_scripts(instance.web_view_state).empty());
}

// A save captures the values current when it is dispatched.
TEST(DispatchWebviewMessage, SaveCapturesValuesAtDispatch) {
    Instance instance;
    instance.params.mix.set_normalized_value(0.25f);
    instance.params.char_mode.set_normalized_value(1.0f);
    const auto expected = tessellgrove::TessellgrovePreset::from_params(instance.params, "Bass: Deep");
    instance.dispatch(ParamMessage{ParamMessage::SavePreset{"Bass: Deep"}});
    instance.params.mix.set_normalized_value(0.75f); // after dispatch: not in the record

    const auto commands = instance.sent_commands();
    ASSERT_EQ(commands.size(), 1u);
    const auto* save = std::get_if<PresetCommand::Save>(&commands[0].request);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->name, "Bass: Deep");
    EXPECT_EQ(save->preset, expected);
    EXPECT_EQ(save->preset.mix, 0.25f);
    EXPECT_EQ(save->preset.char_mode, 3);
}

// Messages meant for an editor with a web view change nothing here.
TEST(DispatchWebviewMessage, EditorMessagesAreDroppedWithoutEffect) {
    const std::vector<ParamMessage> dropped{
        ParamMessage{ParamMessage::SetParam{"mix", 0.9f}}, ParamMessage{ParamMessage::BeginEdit{"mix"}},
        ParamMessage{ParamMessage::EndEdit{"mix"}},        ParamMessage{ParamMessage::RequestParams{}},
        ParamMessage{ParamMessage::Custom{"x", "y"}},      ParamMessage{ParamMessage::PollMessages{}},
    };
    Instance instance;
    for (const auto& message : dropped) {
        instance.dispatch(message);
    }
    EXPECT_EQ(instance.params.mix.normalized_value(), 0.5f);
    EXPECT_TRUE(drain_scripts(instance.web_view_state).empty());
    EXPECT_TRUE(instance.sent_commands().empty());
}

TEST(DispatchWebviewMessage, RequestsAfterTheWorkerEndedAreDroppedQuietly) {
    Instance instance;
    instance.preset_rx = tessellgrove::PresetCommandReceiver{}; // the worker's end is gone
    instance.dispatch(ParamMessage{ParamMessage::DeletePreset{"Init"}});
    instance.dispatch(ParamMessage{ParamMessage::SavePreset{"New"}});
    instance.dispatch(ParamMessage{ParamMessage::RequestTransport{}}); // still answered
    EXPECT_EQ(drain_scripts(instance.web_view_state),
              (std::vector<std::string>{transport_statement("120", "false")}));
}

TEST(ParamNotifications, ValueChangedQueuesOneStatement) {
    WebViewState state(900, 600);
    tessellgrove::param_value_changed(state, "mix", 0.5f);
    tessellgrove::param_modulation_changed("mix", 0.25f);
    EXPECT_EQ(drain_scripts(state),
              (std::vector<std::string>{"if (window._updateParam) window._updateParam('mix', 0.5);"}));
}

// One statement per parameter in host order, unmodulated; the third call
// with nobody draining overflows the 64-statement queue after 6.
TEST(ParamNotifications, ValuesChangedWalksEveryParameterInOrder) {
    tessellgrove::TessellgroveParams params;
    params.lock_freq.set_normalized_value(0.75f);
    params.lock_freq.set_modulation_offset(-0.5f);
    params.comb_mix.set_normalized_value(0.125f);
    auto map = params.param_map();

    WebViewState state(900, 600);
    tessellgrove::param_values_changed(state, params);
    auto statements = drain_scripts(state);
    ASSERT_EQ(statements.size(), tessellgrove::param_count);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const std::string expected = "if (window._updateParam) window._updateParam('" +
                                     std::string(tessellgrove::param_ids[i]) + "', " +
                                     webview::format_script_number(map[i].param->unmodulated_normalized_value()) +
                                     ");";
        EXPECT_EQ(statements[i], expected);
    }
    EXPECT_EQ(statements[4], "if (window._updateParam) window._updateParam('lock_freq', 0.75);");
    EXPECT_EQ(statements[28], "if (window._updateParam) window._updateParam('comb_mix', 0.125);");

    for (int call = 0; call < 3; ++call) {
        tessellgrove::param_values_changed(state, params);
    }
    statements = drain_scripts(state);
    ASSERT_EQ(statements.size(), WebViewState::script_capacity);
    EXPECT_EQ(statements[58], statements[0]);
    EXPECT_NE(statements[63].find("'lock_motion_enable'"), std::string::npos) << statements[63];
}

} // namespace
