#include "webview/editor/web_view_editor.hpp"

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin_kit/log/log.hpp"
#include "ui/editor_texts.hpp"
#include "webview/state/web_view_state.hpp"

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>

#include <string>
#include <vector>

namespace webview {
namespace {

// Captures the information lines written while it lives.
class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(16)) {
        sink_->set_pattern("%l|%v");
        plugin_kit::logger().sinks().push_back(sink_);
    }
    ~LogCapture() { plugin_kit::logger().sinks().pop_back(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string> lines() const { return sink_->last_formatted(); }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_;
};

struct AssemblyCase {
    std::string html;
    std::string expected; // with "S" standing for the script element
};

class PageAssembly : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(PageAssembly, PutsTheBridgeScriptWhereThePageExpectsIt) {
    const std::string bridge = "\nwindow.x = 1;\n";
    const std::string element = "<script>" + bridge + "</script>";
    std::string expected;
    for (const char c : GetParam().expected) {
        if (c == 'S') {
            expected += element;
        } else {
            expected += c;
        }
    }
    EXPECT_EQ(assemble_editor_page(GetParam().html, bridge), expected);
}

// Expected texts avoid the letter S apart from the placeholder.
INSTANTIATE_TEST_SUITE_P(
    WebViewEditor, PageAssembly,
    ::testing::Values(
        AssemblyCase{"<html><head><title>t</title></head><body>b</body></html>",
                     "<html><head><title>t</title>S</head><body>b</body></html>"},
        // Every "</head>" gets one, and "<body>" is then left alone.
        AssemblyCase{"<head></head><body></body><head></head>", "<head>S</head><body></body><head>S</head>"},
        AssemblyCase{"<body><p>x</p></body>", "<body>S<p>x</p></body>"},
        AssemblyCase{"<body>a<body>b", "<body>Sa<body>Sb"},
        AssemblyCase{"<p>hello</p>",
                     "<!DOCTYPE html>\n<html>\n<head>\n    <meta charset=\"UTF-8\">\n"
                     "    <meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">\n"
                     "    S\n</head>\n<body>\n<p>hello</p>\n</body>\n</html>"},
        AssemblyCase{"", "<!DOCTYPE html>\n<html>\n<head>\n    <meta charset=\"UTF-8\">\n"
                         "    <meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">\n"
                         "    S\n</head>\n<body>\n\n</body>\n</html>"},
        // Tags are matched exactly: upper case or attributes are not the tags.
        AssemblyCase{"<BODY></HEAD>", "<!DOCTYPE html>\n<html>\n<head>\n    <meta charset=\"UTF-8\">\n"
                                      "    <meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">\n"
                                      "    S\n</head>\n<body>\n<BODY></HEAD>\n</body>\n</html>"}));

struct EditorFixture : ::testing::Test {
    std::shared_ptr<WebViewState> state = WebViewState::from_size(900, 600);
    std::shared_ptr<tessellgrove::TessellgroveParams> params = std::make_shared<tessellgrove::TessellgroveParams>();
    std::unique_ptr<WebViewEditor> editor =
        create_webview_editor(state, params, std::string(tessellgrove::ui::editor_page_html()));

    std::vector<std::string> drain_scripts() {
        std::vector<std::string> out;
        while (auto s = state->try_recv_script()) {
            out.push_back(std::move(*s));
        }
        return out;
    }
};

TEST_F(EditorFixture, ConfigHoldsThePageAndDefaults) {
    EXPECT_EQ(editor->config().html, tessellgrove::ui::editor_page_html());
    EXPECT_FALSE(editor->config().url);
    EXPECT_EQ(editor->config().color, "#1a1a1a");
    EXPECT_FALSE(editor->config().devtools);
    EXPECT_EQ(editor->size().width, 900u);
    EXPECT_EQ(editor->size().height, 600u);
}

TEST_F(EditorFixture, SpawnLogsTheRealPageSizeAndOpenCloseLeavesQueuesAlone) {
    const std::size_t expected_bytes =
        tessellgrove::ui::editor_page_html().size() + tessellgrove::ui::bridge_script().size() + 17;
    EXPECT_EQ(editor->assembled_page().size(), expected_bytes);

    const LogCapture log;
    {
        auto handle = editor->spawn(plugin_kit::ParentWindow{});
        ASSERT_NE(handle, nullptr);
        EXPECT_TRUE(state->is_open());
    }
    EXPECT_FALSE(state->is_open());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "info|WebView editor spawn: 900x600, HTML: " + std::to_string(expected_bytes) + " bytes\n",
                               "info|WebView editor not yet implemented for this platform\n",
                               "info|WebView editor closed\n"}));
    EXPECT_FALSE(state->try_recv_script());
    EXPECT_FALSE(state->try_recv_js_message());
}

TEST_F(EditorFixture, TwoHandlesShareOneOpenFlagAndHandlesMayOutliveTheEditor) {
    auto first = editor->spawn(plugin_kit::ParentWindow{});
    auto second = editor->spawn(plugin_kit::ParentWindow{});
    EXPECT_TRUE(state->is_open());
    first.reset();
    EXPECT_FALSE(state->is_open()); // either drop closes
    second.reset();
    EXPECT_FALSE(state->is_open());

    auto late = editor->spawn(plugin_kit::ParentWindow{});
    editor.reset();
    EXPECT_TRUE(state->is_open());
    late.reset();
    EXPECT_FALSE(state->is_open());
}

TEST_F(EditorFixture, ScaleFactorIsStoredAndAlwaysAccepted) {
    EXPECT_TRUE(editor->set_scale_factor(2.0f));
    EXPECT_EQ(state->scale_factor(), 2.0f);
    EXPECT_TRUE(editor->set_scale_factor(-1.0f));
    EXPECT_EQ(state->scale_factor(), 2.0f); // the state keeps the last usable factor
}

TEST_F(EditorFixture, ParameterNotificationsBecomePageStatements) {
    editor->param_value_changed("mix", 0.25f);
    editor->param_modulation_changed("mix", 0.5f);
    EXPECT_EQ(drain_scripts(),
              (std::vector<std::string>{"if (window._updateParam) window._updateParam('mix', 0.25);"}));

    params->mix.set_normalized_value(0.75f);
    editor->param_values_changed();
    const auto statements = drain_scripts();
    const auto map = params->param_map();
    ASSERT_EQ(statements.size(), map.size());
    for (std::size_t i = 0; i < map.size(); ++i) {
        EXPECT_NE(statements[i].find("'" + std::string(map[i].id) + "'"), std::string::npos) << statements[i];
    }
    EXPECT_NE(statements[1].find("('mix', 0.75)"), std::string::npos) << statements[1];
}

} // namespace
} // namespace webview
