// The instance's wiring to the editor page and the preset worker: page
// messages taken one per block, transport statements, the editor hook, the
// worker's teardown and a refused worker thread.

#include "plugin/lib/tessellgrove.hpp"

#include "test_block.hpp"

#include "ui/editor_texts.hpp"
#include "webview/editor/web_view_editor.hpp"
#include "webview/state/web_view_state.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tessellgrove {
namespace {

namespace fs = std::filesystem;
using testing::TestBlock;
using webview::ParamMessage;

// Points XDG_CONFIG_HOME at an empty temporary directory, so the preset
// worker sees no user presets and writes nowhere real.
class WiringTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "tessellgrove-wiring-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            saved_xdg_ = old;
        }
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_xdg_) {
            setenv("XDG_CONFIG_HOME", saved_xdg_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        fs::remove_all(dir_);
    }

    static void send(Tessellgrove& plugin, ParamMessage::Kind kind) {
        ASSERT_TRUE(plugin.web_view_state()->js_message_sender().send(ParamMessage{std::move(kind)}));
    }
    static void run_block(Tessellgrove& plugin, std::size_t channels, uint32_t frames, bool playing = false,
                          std::optional<double> tempo = std::nullopt) {
        TestBlock block(channels, frames);
        EXPECT_EQ(plugin.process(block.buffer, plugin_kit::Transport{playing, tempo}),
                  plugin_kit::ProcessStatus::Normal);
    }
    static std::vector<std::string> drain(webview::WebViewState& state) {
        std::vector<std::string> out;
        while (auto statement = state.try_recv_script()) {
            out.push_back(std::move(*statement));
        }
        return out;
    }
    static std::string transport_statement(const char* bpm, bool playing) {
        return std::string("if (window._updateTransport) window._updateTransport(") + bpm + ", " +
               (playing ? "true" : "false") + ");";
    }

    fs::path dir_;
    std::optional<std::string> saved_xdg_;
};

TEST_F(WiringTest, TenQueuedMessagesAreTakenOnePerBlockInOrder) {
    std::shared_ptr<webview::WebViewState> state;
    // The worker answers whenever it gets to a command, so its statements
    // can turn up in any block's drain as well as after teardown.
    std::string joined;
    {
        Tessellgrove plugin;
        state = plugin.web_view_state();
        // Even messages answer at once on the audio thread; odd ones go to
        // the worker, which answers later.
        for (int k = 0; k < 10; ++k) {
            if (k % 2 == 0) {
                send(plugin, ParamMessage::RequestTransport{});
            } else {
                send(plugin, ParamMessage::LoadPreset{"missing-" + std::to_string(k), false});
            }
        }
        for (int k = 0; k < 10; ++k) {
            const bool playing = k % 4 == 0;
            run_block(plugin, 2, 64, playing);
            const auto statements = drain(*state);
            std::vector<std::string> transport;
            for (const auto& s : statements) {
                if (s.find("_updateTransport") != std::string::npos) {
                    transport.push_back(s);
                } else {
                    joined += s + "\n";
                }
            }
            if (k % 2 == 0) {
                // The transport answer carries this block's playing flag.
                EXPECT_EQ(transport, std::vector<std::string>{transport_statement("120", playing)}) << k;
            } else {
                EXPECT_TRUE(transport.empty()) << "block " << k;
            }
        }
        run_block(plugin, 2, 64);
        EXPECT_TRUE(state->try_recv_js_message() == std::nullopt) << "all ten taken";
    }
    // After teardown every worker answer is in, in the order sent.
    for (const auto& s : drain(*state)) {
        joined += s + "\n";
    }
    std::size_t at = 0;
    for (int k = 1; k < 10; k += 2) {
        const std::size_t found = joined.find("missing-" + std::to_string(k), at);
        ASSERT_NE(found, std::string::npos) << k << "\n" << joined;
        at = found;
    }
}

TEST_F(WiringTest, AnEmptyStereoBlockTakesOneMessageAndAMonoBlockNone) {
    Tessellgrove plugin;
    send(plugin, ParamMessage::RequestTransport{});
    send(plugin, ParamMessage::RequestTransport{});
    run_block(plugin, 1, 32, true);
    EXPECT_TRUE(drain(*plugin.web_view_state()).empty());
    run_block(plugin, 2, 0, true);
    EXPECT_EQ(drain(*plugin.web_view_state()), std::vector<std::string>{transport_statement("120", true)});
    run_block(plugin, 2, 0, false);
    EXPECT_EQ(drain(*plugin.web_view_state()), std::vector<std::string>{transport_statement("120", false)});
    run_block(plugin, 2, 0, false);
    EXPECT_TRUE(drain(*plugin.web_view_state()).empty());
}

TEST_F(WiringTest, TempoMovesReachTheScriptQueue) {
    Tessellgrove plugin;
    run_block(plugin, 2, 16, true, 128.0);
    run_block(plugin, 2, 16, true, 128.005); // within a hundredth: no statement
    run_block(plugin, 2, 16, false, 90.5);
    EXPECT_EQ(drain(*plugin.web_view_state()),
              (std::vector<std::string>{transport_statement("128", true), transport_statement("90.5", false)}));
}

TEST_F(WiringTest, TeardownWaitsUntilEveryQueuedCommandIsAnswered) {
    std::shared_ptr<webview::WebViewState> state;
    constexpr int requests = 6;
    {
        Tessellgrove plugin;
        state = plugin.web_view_state();
        for (int k = 0; k < requests; ++k) {
            send(plugin, ParamMessage::RequestPresets{});
        }
        for (int k = 0; k < requests; ++k) {
            run_block(plugin, 2, 8);
        }
    }
    int lists = 0;
    for (const auto& s : drain(*state)) {
        lists += s.find("'presets_list'") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(lists, requests);
    EXPECT_EQ(state.use_count(), 1) << "worker and instance have let go of the state";
}

TEST_F(WiringTest, DestroyingAnIdleInstanceEndsItsWorker) {
    for (int i = 0; i < 20; ++i) {
        Tessellgrove plugin;
        EXPECT_EQ(plugin.web_view_state()->size(), (std::pair<uint32_t, uint32_t>{900, 600}));
    }
}

TEST_F(WiringTest, TheEditorSharesTheStateAndParametersAndCarriesThePage) {
    Tessellgrove plugin;
    std::unique_ptr<plugin_kit::Editor> editor = plugin.editor();
    ASSERT_NE(editor, nullptr);
    const auto* web_editor = dynamic_cast<const webview::WebViewEditor*>(editor.get());
    ASSERT_NE(web_editor, nullptr);
    EXPECT_EQ(web_editor->config().html, ui::editor_page_html());
    EXPECT_NE(web_editor->config().html.data(), ui::editor_page_html().data()) << "a copy of its own";
    EXPECT_EQ(editor->size().width, 900u);
    EXPECT_EQ(editor->size().height, 600u);

    auto handle = editor->spawn(plugin_kit::ParentWindow{});
    EXPECT_TRUE(plugin.web_view_state()->is_open());
    handle.reset();
    EXPECT_FALSE(plugin.web_view_state()->is_open());

    plugin.tessellgrove_params()->mix.set_normalized_value(0.25f);
    editor->param_values_changed();
    const auto statements = drain(*plugin.web_view_state());
    ASSERT_EQ(statements.size(), plugin.tessellgrove_params()->param_map().size());
    EXPECT_EQ(statements[1], "if (window._updateParam) window._updateParam('mix', 0.25);");
}

std::thread refuse_thread(PresetCommandReceiver, std::shared_ptr<webview::WebViewState>) {
    throw std::system_error(EAGAIN, std::system_category(), "pthread_create");
}

TEST_F(WiringTest, ARefusedWorkerThreadFailsConstructionWithTheSystemsReason) {
    try {
        Tessellgrove plugin(&refuse_thread);
        FAIL() << "constructed without a worker";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string(preset_worker_spawn_error) + ": " + std::system_category().message(EAGAIN));
    }
}

} // namespace
} // namespace tessellgrove
