#include "webview/state/web_view_state.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>

#include "plugin_kit/log/log.hpp"

namespace {

using webview::ParamMessage;
using webview::WebViewState;

std::vector<std::string> drain_scripts(WebViewState& state) {
    std::vector<std::string> out;
    while (auto statement = state.try_recv_script()) {
        out.push_back(std::move(*statement));
    }
    return out;
}

std::string param_statement(const std::string& id, const std::string& value) {
    return "if (window._updateParam) window._updateParam('" + id + "', " + value + ");";
}

std::string custom_statement(const std::string& action, const std::string& payload) {
    return "if (window._handleCustomMessage) window._handleCustomMessage('" + action + "', '" + payload + "');";
}

TEST(WebViewState, StartsWithItsSizeClosedScaleOneAndInit) {
    const auto state = WebViewState::from_size(900, 600);
    EXPECT_EQ(state->size(), (std::pair<uint32_t, uint32_t>{900, 600}));
    EXPECT_FALSE(state->is_open());
    EXPECT_EQ(state->scale_factor(), 1.0f);
    EXPECT_EQ(state->current_preset_name(), "Init");
    EXPECT_FALSE(state->try_recv_js_message());
    EXPECT_FALSE(state->try_recv_script());
    EXPECT_FALSE(state->try_recv_plugin_message());
}

TEST(WebViewState, SettersStoreWhatTheyAreGiven) {
    WebViewState state(900, 600);
    state.set_open(true);
    EXPECT_TRUE(state.is_open());
    state.set_open(false);
    EXPECT_FALSE(state.is_open());

    state.set_scale_factor(2.0f);
    EXPECT_EQ(state.scale_factor(), 2.0f);
    for (const float bad : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()}) {
        state.set_scale_factor(bad);
        EXPECT_EQ(state.scale_factor(), 2.0f) << bad;
    }

    state.set_current_preset_name("Deep Bass");
    EXPECT_EQ(state.current_preset_name(), "Deep Bass");
    state.set_current_preset_name("");
    EXPECT_EQ(state.current_preset_name(), "");
    // Setting the name queues nothing for the page.
    EXPECT_FALSE(state.try_recv_script());
}

struct NumberCase {
    float value;
    const char* text;
};

// Numbers in statements: shortest round trip, no exponent, no point on
// whole numbers; non-finite values as script literals.
TEST(WebViewState, ParamUpdateStatementWritesNumbersAsTheScriptReadsThem) {
    const std::vector<NumberCase> cases{
        {0.5f, "0.5"},        {1.0f, "1"},          {0.0f, "0"},        {120.0f, "120"},
        {120.5f, "120.5"},    {0.1f, "0.1"},        {1e-7f, "0.0000001"}, {-3.25f, "-3.25"},
        {0.6666667f, "0.6666667"}, {1234567.0f, "1234567"},
        {std::numeric_limits<float>::quiet_NaN(), "NaN"},
        {std::numeric_limits<float>::infinity(), "Infinity"},
        {-std::numeric_limits<float>::infinity(), "-Infinity"},
    };
    WebViewState state(900, 600);
    for (const auto& c : cases) {
        state.push_param_update("mix", c.value);
        EXPECT_EQ(state.try_recv_script(), param_statement("mix", c.text)) << c.text;
        EXPECT_EQ(webview::format_script_number(c.value), c.text);
    }
    // Ids are fixed names; should one ever hold a quote it cannot end the string.
    state.push_param_update("odd'id", 0.25f);
    EXPECT_EQ(state.try_recv_script(), param_statement("odd\\'id", "0.25"));
}

// Round trip over a wide sweep of magnitudes, including the extremes that
// would need an exponent in the shortest general form.
TEST(WebViewState, NumbersReadBackExactlyWithoutExponent) {
    std::vector<float> values{std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                              std::numeric_limits<float>::denorm_min(), 1e20f, 3e-30f, 16777217.0f};
    for (uint32_t bits = 0x00000001u; bits < 0x7f800000u; bits += 0x000fe3d1u) {
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
        values.push_back(-value);
    }
    for (const float value : values) {
        const std::string text = webview::format_script_number(value);
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), value) << text;
        if (std::trunc(value) == value) {
            EXPECT_EQ(text.find('.'), std::string::npos) << text;
        }
    }
}

TEST(WebViewState, TransportStatementHasTempoThenPlaying) {
    WebViewState state(900, 600);
    state.push_transport(true, 128.5f);
    state.push_transport(false, 120.0f);
    state.push_transport(true, 0.0001f);
    EXPECT_EQ(drain_scripts(state),
              (std::vector<std::string>{
                  "if (window._updateTransport) window._updateTransport(128.5, true);",
                  "if (window._updateTransport) window._updateTransport(120, false);",
                  "if (window._updateTransport) window._updateTransport(0.0001, true);",
              }));
}

struct EscapeCase {
    const char* payload;
    const char* escaped;
};

TEST(WebViewState, CustomPayloadIsEscapedForASingleQuotedString) {
    const std::vector<EscapeCase> cases{
        {"Deep Bass", "Deep Bass"},
        {"it's", "it\\'s"},
        {"a\\'b", "a\\\\\\'b"},              // backslash then quote: three backslashes and the quote
        {"line one\nline two", "line one\\nline two"},
        {"crlf\r\n", "crlf\\r\\n"},
        {"C:\\presets\\", "C:\\\\presets\\\\"},
        {"\\n", "\\\\n"},                    // a literal backslash-n is not a line break
        {"tab\there", "tab\there"},          // tabs and other control characters pass
        {"\xE2\x80\xA8|\xE2\x80\xA9", "\xE2\x80\xA8|\xE2\x80\xA9"}, // U+2028, U+2029 pass
        {"</script>\"x\"", "</script>\"x\""}, // evaluated as script, never put into markup
        {R"([{"name":"A'B","is_factory":false}])", R"([{"name":"A\'B","is_factory":false}])"},
        {"", ""},
    };
    WebViewState state(900, 600);
    for (const auto& c : cases) {
        state.push_custom("presets_list", c.payload);
        EXPECT_EQ(state.try_recv_script(), custom_statement("presets_list", c.escaped)) << c.payload;
        EXPECT_EQ(webview::escape_script_string(c.payload), c.escaped);
    }
}

// With nobody consuming, the first 64 statements stay in order and later ones
// vanish; once the page takes some, room is made again.
TEST(WebViewState, ScriptQueueKeepsFirst64InOrderAndDropsNewcomers) {
    WebViewState state(900, 600);
    for (int i = 0; i < 70; ++i) {
        state.push_param_update("p" + std::to_string(i), 0.5f);
    }
    auto statements = drain_scripts(state);
    ASSERT_EQ(statements.size(), WebViewState::script_capacity);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        EXPECT_EQ(statements[i], param_statement("p" + std::to_string(i), "0.5"));
    }

    // Wrap around the ring several times with a partly drained queue.
    int next = 0;
    int expected = 0;
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 50; ++i) {
            state.push_transport(false, static_cast<float>(next++));
        }
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(state.try_recv_script(),
                      "if (window._updateTransport) window._updateTransport(" + std::to_string(expected++) +
                          ", false);");
        }
    }
    EXPECT_FALSE(state.try_recv_script());
}

// The three producers of the script queue (audio thread, framework
// notifications, preset worker) racing: the queue still holds exactly 64.
TEST(WebViewState, ConcurrentStatementProducersFillExactly64) {
    WebViewState state(900, 600);
    std::thread transport([&] {
        for (int i = 0; i < 40; ++i) {
            state.push_transport(i % 2 == 0, 120.0f + static_cast<float>(i));
        }
    });
    std::thread params([&] {
        for (int i = 0; i < 40; ++i) {
            state.push_param_update("mix", static_cast<float>(i) / 40.0f);
        }
    });
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i) {
            state.push_custom("preset_loaded", "Init");
        }
    });
    transport.join();
    params.join();
    worker.join();
    EXPECT_EQ(drain_scripts(state).size(), WebViewState::script_capacity);
}

TEST(WebViewState, PushCustomLogsActionAndRawPayloadLengthEvenWhenDropped) {
    WebViewState state(900, 600);
    for (std::size_t i = 0; i < WebViewState::script_capacity; ++i) {
        state.push_transport(false, 120.0f);
    }
    auto sink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(4);
    sink->set_pattern("%l|%v");
    auto& sinks = plugin_kit::logger().sinks();
    sinks.push_back(sink);
    state.push_custom("preset_error", "it's\n"); // 5 bytes before escaping, 7 after
    sinks.pop_back();

    EXPECT_EQ(sink->last_formatted(), (std::vector<std::string>{"info|[push_custom] action=preset_error, payload_len=5\n"}));
    const auto statements = drain_scripts(state);
    ASSERT_EQ(statements.size(), WebViewState::script_capacity);
    EXPECT_EQ(statements.back(), "if (window._updateTransport) window._updateTransport(120, false);");
}

TEST(WebViewState, PageMessagesArriveInOrderUpTo256) {
    WebViewState state(900, 600);
    auto sender = state.js_message_sender();
    auto second_sender = state.js_message_sender();
    int accepted = 0;
    for (int i = 0; i < 300; ++i) {
        auto& via = (i % 2 == 0) ? sender : second_sender;
        accepted += via.send(ParamMessage{ParamMessage::SavePreset{std::to_string(i)}}) ? 1 : 0;
    }
    EXPECT_EQ(accepted, static_cast<int>(WebViewState::js_message_capacity));
    for (int i = 0; i < accepted; ++i) {
        const auto message = state.try_recv_js_message();
        ASSERT_TRUE(message);
        EXPECT_EQ(*message, (ParamMessage{ParamMessage::SavePreset{std::to_string(i)}}));
    }
    EXPECT_FALSE(state.try_recv_js_message());
}

TEST(WebViewState, SenderKeepsItsQueueAliveAfterTheState) {
    auto state = WebViewState::from_size(900, 600);
    auto sender = state->js_message_sender();
    state.reset();
    EXPECT_TRUE(sender.send(ParamMessage{ParamMessage::PollMessages{}}));
}

TEST(WebViewState, PluginMessageQueueHolds64) {
    WebViewState state(900, 600);
    int accepted = 0;
    for (int i = 0; i < 70; ++i) {
        accepted += state.push_plugin_message(
                        webview::PluginToPageMessage{webview::PluginToPageMessage::Custom{"a", std::to_string(i)}})
                        ? 1
                        : 0;
    }
    EXPECT_EQ(accepted, static_cast<int>(WebViewState::plugin_message_capacity));
    const auto first = state.try_recv_plugin_message();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, (webview::PluginToPageMessage{webview::PluginToPageMessage::Custom{"a", "0"}}));
}

} // namespace
