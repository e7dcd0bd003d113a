#pragma once
// Shared helpers for the preset tests: a throw-away configuration directory
// (XDG_CONFIG_HOME and HOME point into a fresh temporary directory for the
// lifetime of the object, so no test touches the real home) and a reader
// for the custom statements queued on a WebViewState.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace webview {
class WebViewState;
}

namespace preset_tests {

// Points XDG_CONFIG_HOME at <tmp>/config and HOME at <tmp>/home; restores
// both and removes the directory on destruction.
class TempConfigDir {
public:
    TempConfigDir();
    ~TempConfigDir();
    TempConfigDir(const TempConfigDir&) = delete;
    TempConfigDir& operator=(const TempConfigDir&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path config() const { return root_ / "config"; }
    // <config>/corvalune/tessellgrove/Presets (not created).
    std::filesystem::path presets() const;

private:
    std::filesystem::path root_;
    std::optional<std::string> saved_xdg_;
    std::optional<std::string> saved_home_;
};

// Sets or (with nullopt) unsets an environment variable.
void set_env(const char* name, const std::optional<std::string>& value);

// One answer of the preset worker, recovered from its script statement.
struct Answer {
    std::string action;
    std::string payload;
    bool operator==(const Answer&) const = default;
};

// Takes every queued statement off `state`; each must be a custom message.
std::vector<Answer> drain_answers(webview::WebViewState& state);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

} // namespace preset_tests
