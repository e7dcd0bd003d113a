#include "test_support.hpp"

#include "webview/state/web_view_state.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace preset_tests {

namespace {
std::optional<std::string> get_env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
}
} // namespace

void set_env(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

TempConfigDir::TempConfigDir() : saved_xdg_(get_env("XDG_CONFIG_HOME")), saved_home_(get_env("HOME")) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tessellgrove-presets-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = tmpl;
    std::filesystem::create_directories(root_ / "home");
    set_env("XDG_CONFIG_HOME", config().string());
    set_env("HOME", (root_ / "home").string());
}

TempConfigDir::~TempConfigDir() {
    set_env("XDG_CONFIG_HOME", saved_xdg_);
    set_env("HOME", saved_home_);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::filesystem::path TempConfigDir::presets() const {
    return config() / "corvalune" / "tessellgrove" / "Presets";
}

std::vector<Answer> drain_answers(webview::WebViewState& state) {
    static const std::string prefix = "if (window._handleCustomMessage) window._handleCustomMessage('";
    static const std::string middle = "', '";
    static const std::string suffix = "');";
    std::vector<Answer> answers;
    while (auto statement = state.try_recv_script()) {
        const std::string& s = *statement;
        EXPECT_EQ(s.rfind(prefix, 0), 0u) << s;
        EXPECT_GE(s.size(), prefix.size() + middle.size() + suffix.size()) << s;
        EXPECT_EQ(s.substr(s.size() - suffix.size()), suffix) << s;
        const auto mid = s.find(middle, prefix.size());
        if (mid == std::string::npos) {
            ADD_FAILURE() << "not a custom statement: " << s;
            continue;
        }
        Answer a;
        a.action = s.substr(prefix.size(), mid - prefix.size());
        const std::string escaped = s.substr(mid + middle.size(), s.size() - suffix.size() - mid - middle.size());
        for (std::size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] != '\\') {
                a.payload.push_back(escaped[i]);
                continue;
            }
            ++i;
            if (i == escaped.size()) {
                ADD_FAILURE() << "dangling escape in " << s;
                break;
            }
            switch (escaped[i]) {
            case 'n': a.payload.push_back('\n'); break;
            case 'r': a.payload.push_back('\r'); break;
            default: a.payload.push_back(escaped[i]); break;
            }
        }
        answers.push_back(std::move(a));
    }
    return answers;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace preset_tests
