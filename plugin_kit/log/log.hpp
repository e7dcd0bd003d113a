#pragma once
// One logger for the whole process, shared by every plug-in instance.
//
// Whichever entry point runs first sets it up (`init_logger`); any later call,
// and any use through `logger()` before that, finds the same object. It
// writes to standard error at information level. Logging formats text and
// may allocate, so none of this is for the audio thread.

#include <string_view>
#include <utility>

#include <spdlog/logger.h>

namespace plugin_kit {

// Sets up the process-wide logger under `name` unless it exists already. Any thread; never throws.
void init_logger(std::string_view name) noexcept;

// The process-wide logger, set up under the default name on first use. Never throws.
spdlog::logger& logger() noexcept;

// Writes one information-level line when the logger is enabled at that level. Never throws.
template <typename... Args>
void log_info(fmt::format_string<Args...> format, Args&&... args) noexcept;

// Name used when the logger is first reached through `logger()`.
inline constexpr std::string_view default_logger_name = "plugin";

// ---------------------------------------------------------------------------

template <typename... Args>
void log_info(fmt::format_string<Args...> format, Args&&... args) noexcept {
    try {
        spdlog::logger& log = logger();
        if (log.should_log(spdlog::level::info)) {
            log.info(format, std::forward<Args>(args)...);
        }
    } catch (...) {
        // A line that cannot be written is dropped; logging never fails its caller.
    }
}

} // namespace plugin_kit
