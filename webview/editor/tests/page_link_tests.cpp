// The editor's side of the page protocol over the helper link, with a shell
// script standing in for the helper (no display needed): what reaches the
// page, what reaches the queues and the GUI context, and what is dropped.

#include "webview/editor/page_link.hpp"

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin_kit/params/param.hpp"
#include "plugin_kit/params/params.hpp"
#include "webview/state/web_view_state.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <poll.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace webview {
namespace {

using namespace std::chrono_literals;

// Records the gestures the link performs; when `offers_loop`, it also plays
// the host's main loop (what CLAP's posix-fd and timer support give), driven
// by `pump` on the test's thread.
class RecordingContext final : public plugin_kit::GuiContext {
public:
    explicit RecordingContext(bool offers_loop) : offers_loop_(offers_loop) {}

    bool watch(int fd, uint32_t period_ms, std::function<void()> on_readable, std::function<void()> on_tick) override {
        if (!offers_loop_) {
            return false;
        }
        fd_ = fd;
        period_ = std::chrono::milliseconds(period_ms);
        on_readable_ = std::move(on_readable);
        on_tick_ = std::move(on_tick);
        next_tick_ = std::chrono::steady_clock::now() + period_;
        return true;
    }
    void unwatch() override {
        fd_ = -1;
        ++unwatch_count_;
    }
    // One turn of the main loop: up to 10 ms waiting for the socket.
    void pump() {
        if (fd_ < 0) {
            std::this_thread::sleep_for(10ms);
            return;
        }
        pollfd polled{fd_, POLLIN, 0};
        if (::poll(&polled, 1, 10) > 0) {
            on_readable_();
        }
        if (fd_ >= 0 && std::chrono::steady_clock::now() >= next_tick_) {
            next_tick_ += period_;
            on_tick_();
        }
    }
    bool watching() const { return fd_ >= 0; }
    int unwatch_count() const { return unwatch_count_; }

    void begin_edit(std::string_view id) override { add("begin " + std::string(id)); }
    void set_value(std::string_view id, float normalized) override {
        add("value " + std::string(id) + " " + std::to_string(normalized));
    }
    void end_edit(std::string_view id) override { add("end " + std::string(id)); }
    std::vector<std::string> calls() {
        const std::lock_guard guard(lock_);
        return calls_;
    }

private:
    bool offers_loop_;
    int fd_ = -1;
    int unwatch_count_ = 0;
    std::chrono::milliseconds period_{50};
    std::chrono::steady_clock::time_point next_tick_;
    std::function<void()> on_readable_, on_tick_;

    void add(std::string call) {
        const std::lock_guard guard(lock_);
        calls_.push_back(std::move(call));
    }
    std::mutex lock_;
    std::vector<std::string> calls_;
};

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each case runs twice: served by the link's own thread, and by the host's main loop.
class PageLinkTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("page-link-" + std::to_string(::getpid()) + "-" +
                std::to_string(std::hash<std::string>{}(
                    ::testing::UnitTest::GetInstance()->current_test_info()->name())));
        std::filesystem::create_directories(dir_);
        log_ = dir_ / "statements";
        posts_ = dir_ / "posts";
        ::setenv("FAKE_HELPER_LOG", log_.c_str(), 1);
        ::setenv("FAKE_HELPER_POSTS", posts_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void write_posts(const std::vector<std::string>& lines) {
        std::ofstream out(posts_);
        for (const std::string& line : lines) {
            out << line << '\n';
        }
    }

    // Waits until the helper's statement log holds `text`.
    bool wait_for_statement(const std::string& text) {
        for (int i = 0; i < 300; ++i) {
            if (read_text(log_).find(text) != std::string::npos) {
                return true;
            }
            context_->pump();
        }
        return false;
    }

    std::unique_ptr<PageLink> start(std::string page) {
        return PageLink::start({FAKE_EDITOR_HELPER, 0x1234, 900, 600}, std::move(page), state_, params_, context_);
    }

    std::filesystem::path dir_, log_, posts_;
    std::shared_ptr<WebViewState> state_ = WebViewState::from_size(900, 600);
    std::shared_ptr<tessellgrove::TessellgroveParams> params_ = std::make_shared<tessellgrove::TessellgroveParams>();
    std::shared_ptr<RecordingContext> context_ = std::make_shared<RecordingContext>(GetParam());
};

TEST_P(PageLinkTest, SendsThePageAndItsSizeThenAnnouncesTheLinkWithTheCurrentPresetName) {
    write_posts({});
    state_->set_current_preset_name("It's \\ here");
    const std::string page = "<html><head></head><body>\nline two\n</body></html>";
    auto link = start(page);
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(wait_for_statement("_setCurrentPresetName"));
    link.reset();
    EXPECT_EQ(read_text(log_.string() + ".page"), page);
    EXPECT_EQ(read_text(log_.string() + ".args"), "--parent 0x1234 --width 900 --height 600\n");
    const std::string statements = read_text(log_);
    const std::size_t ready = statements.find("window._ipcReady()");
    const std::size_t name = statements.find("window._setCurrentPresetName('It\\'s \\\\ here');");
    ASSERT_NE(ready, std::string::npos);
    ASSERT_NE(name, std::string::npos);
    EXPECT_LT(ready, name);
}

TEST_P(PageLinkTest, ServesEachMessageKindWhereItBelongsAndDropsBadOnes) {
    write_posts({
        R"({"type":"begin_edit","name":"mix"})",
        R"({"type":"set_param","name":"mix","value":0.25})",
        R"({"type":"end_edit","name":"mix"})",
        R"(this is not json)",
        R"({"type":"no_such_type"})",
        R"({"type":"save_preset","name":"Mine"})",
        R"({"type":"request_params"})",
    });
    state_->push_param_update("width", 0.5f); // waiting before the page loaded
    // The context here records only, so the parameter keeps what is set here.
    plugin_kit::find_param_entry(params_->param_map(), "mix")->param->set_normalized_value(0.75f);
    auto link = start("<p>x</p>");
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(wait_for_statement("_setAllParams"));
    link.reset();

    EXPECT_EQ(context_->calls(),
              (std::vector<std::string>{"begin mix", "value mix " + std::to_string(0.25f), "end mix"}));
    // Only the preset request goes on to the audio callback.
    std::optional<ParamMessage> queued = state_->try_recv_js_message();
    ASSERT_TRUE(queued.has_value());
    EXPECT_EQ(*queued, (ParamMessage{ParamMessage::SavePreset{"Mine"}}));
    EXPECT_FALSE(state_->try_recv_js_message().has_value());

    const std::string statements = read_text(log_);
    EXPECT_NE(statements.find("window._updateParam('width', 0.5)"), std::string::npos);
    // One entry per parameter, each with the six fields.
    const std::size_t all = statements.find("window._setAllParams([");
    ASSERT_NE(all, std::string::npos);
    const std::string line = statements.substr(all, statements.find('\n', all) - all);
    std::size_t entries = 0;
    for (std::size_t at = line.find("{\"name\":"); at != std::string::npos; at = line.find("{\"name\":", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, params_->param_map().size());
    EXPECT_NE(line.find(R"({"name":"mix","value":0.75,"default":0.5,"min":0,"max":1,"display":"75 %"})"),
              std::string::npos)
        << line;
}

TEST_P(PageLinkTest, StatementsQueuedWhileOpenReachThePageInOrder) {
    write_posts({});
    auto link = start("<p>x</p>");
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(wait_for_statement("_setCurrentPresetName"));
    for (int i = 0; i < 40; ++i) {
        state_->push_param_update("mix", static_cast<float>(i) / 64.0f);
    }
    ASSERT_TRUE(wait_for_statement("window._updateParam('mix', " + std::to_string(39.0f / 64.0f).substr(0, 8)));
    link.reset();
    const std::string statements = read_text(log_);
    std::size_t last = 0;
    for (int i = 0; i < 40; ++i) {
        const std::string text = "window._updateParam('mix', " + format_script_number(static_cast<float>(i) / 64.0f) + ");";
        const std::size_t at = statements.find(text, last);
        ASSERT_NE(at, std::string::npos) << text;
        last = at;
    }
}

TEST_P(PageLinkTest, AMissingHelperStartsNothing) {
    auto link = PageLink::start({(dir_ / "absent").string(), 0x1234, 900, 600}, "<p>x</p>", state_, params_, context_);
    // posix_spawn reports a missing program either at once or as an
    // immediate exit; either way the link is not running for long.
    if (link) {
        for (int i = 0; i < 100 && link->running(); ++i) {
            context_->pump();
        }
        EXPECT_FALSE(link->running());
        for (int i = 0; i < 10; ++i) {
            context_->pump();
        }
        EXPECT_FALSE(context_->watching()) << "a dead helper's socket is no longer watched";
    }
}

TEST_P(PageLinkTest, ClosingEndsTheHelperAndTheWatch) {
    write_posts({});
    auto link = start("<p>x</p>");
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(wait_for_statement("_setCurrentPresetName"));
    const int pid = link->pid();
    link.reset();
    EXPECT_NE(::kill(pid, 0), 0) << "the helper was reaped";
    EXPECT_FALSE(context_->watching());
    EXPECT_EQ(context_->unwatch_count(), GetParam() ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Link, PageLinkTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("HostMainLoop") : std::string("OwnThread");
                         });

TEST(SetCurrentPresetNameStatement, EscapesLikeACustomPayload) {
    EXPECT_EQ(set_current_preset_name_statement("a'b\\c\nd"),
              "if (window._setCurrentPresetName) window._setCurrentPresetName('a\\'b\\\\c\\nd');");
}

} // namespace
} // namespace webview
