#include "webview/bridge/param_message.hpp"
#include "webview/bridge/preset_info.hpp"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using webview::ParamMessage;
using webview::parse_param_message;

struct DecodeCase {
    const char* json;
    std::optional<ParamMessage> expected;
};

// Every message the page's functions send, in the form they send it, and
// the shapes the decoder must refuse.
TEST(ParseParamMessage, DecodesEveryPageMessageAndRefusesBadShapes) {
    const std::vector<DecodeCase> cases{
        {R"({"type":"set_param","name":"mix","value":0.25})", ParamMessage{ParamMessage::SetParam{"mix", 0.25f}}},
        {R"({"type":"set_param","name":"mix","value":1})", ParamMessage{ParamMessage::SetParam{"mix", 1.0f}}},
        {R"({"type":"set_param","name":"mix","value":7.5})", ParamMessage{ParamMessage::SetParam{"mix", 1.0f}}},
        {R"({"type":"set_param","name":"mix","value":-1e300})", ParamMessage{ParamMessage::SetParam{"mix", 0.0f}}},
        {R"({"type":"begin_edit","name":"lock_freq"})", ParamMessage{ParamMessage::BeginEdit{"lock_freq"}}},
        {R"({"type":"end_edit","name":"lock_freq"})", ParamMessage{ParamMessage::EndEdit{"lock_freq"}}},
        {R"({"type":"request_params"})", ParamMessage{ParamMessage::RequestParams{}}},
        {R"({"type":"request_transport"})", ParamMessage{ParamMessage::RequestTransport{}}},
        {R"({"type":"custom","action":"x","payload":"a'b\n"})", ParamMessage{ParamMessage::Custom{"x", "a'b\n"}}},
        {R"({"type":"custom","action":"x"})", ParamMessage{ParamMessage::Custom{"x", ""}}},
        {R"({"type":"request_presets"})", ParamMessage{ParamMessage::RequestPresets{}}},
        {R"({"type":"load_preset","name":"Init","is_factory":true})", ParamMessage{ParamMessage::LoadPreset{"Init", true}}},
        {R"({"type":"load_preset","name":"A"})", ParamMessage{ParamMessage::LoadPreset{"A", false}}},
        {R"({"type":"save_preset","name":"Bass: Deep"})", ParamMessage{ParamMessage::SavePreset{"Bass: Deep"}}},
        {R"({"type":"delete_preset","name":"Old"})", ParamMessage{ParamMessage::DeletePreset{"Old"}}},
        {R"({"type":"poll_messages"})", ParamMessage{ParamMessage::PollMessages{}}},
        // Refused: not JSON, not an object, unknown or missing type, missing or mistyped fields.
        {R"({"type":"set_param","name":"mix")", std::nullopt},
        {R"(["set_param"])", std::nullopt},
        {R"({"type":"reboot"})", std::nullopt},
        {R"({"name":"mix","value":0.5})", std::nullopt},
        {R"({"type":7})", std::nullopt},
        {R"({"type":"set_param","name":"mix"})", std::nullopt},
        {R"({"type":"set_param","name":"mix","value":"0.5"})", std::nullopt},
        {R"({"type":"set_param","name":3,"value":0.5})", std::nullopt},
        {R"({"type":"begin_edit"})", std::nullopt},
        {R"({"type":"custom","payload":"p"})", std::nullopt},
        {R"({"type":"custom","action":"x","payload":5})", std::nullopt},
        {R"({"type":"load_preset","name":"A","is_factory":"yes"})", std::nullopt},
        {R"({"type":"save_preset"})", std::nullopt},
        {R"({"type":"delete_preset","name":null})", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_param_message(c.json), c.expected) << c.json;
    }
}

TEST(PresetInfo, JsonKeepsNameBeforeIsFactoryAndReadsBack) {
    const std::vector<webview::PresetInfo> list{{"Ambient Wash", true}, {"My \"Lead\"", false}};
    const nlohmann::ordered_json json = list;
    EXPECT_EQ(json.dump(), R"([{"name":"Ambient Wash","is_factory":true},{"name":"My \"Lead\"","is_factory":false}])");
    EXPECT_EQ(json.get<std::vector<webview::PresetInfo>>(), list);
}

} // namespace
