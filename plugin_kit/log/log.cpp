#include "plugin_kit/log/log.hpp"

#include <memory>
#include <mutex>
#include <string>

#include <spdlog/sinks/stdout_sinks.h>

namespace plugin_kit {

namespace {

std::once_flag logger_once;
// Set once under `logger_once` and never freed: worker threads of instances
// that outlive static destruction order may still log, so the logger stays.
spdlog::logger* process_logger = nullptr;

spdlog::logger* create_logger(std::string_view name) noexcept {
    try {
        auto sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
        auto* created = new spdlog::logger(std::string(name), std::move(sink));
        created->set_level(spdlog::level::info);
        created->flush_on(spdlog::level::info);
        return created;
    } catch (...) {
        return nullptr;
    }
}

// Stands in when the real logger could not be built (out of memory): a
// logger without sinks whose level is off, so every line is dropped.
spdlog::logger& silent_logger() noexcept {
    static spdlog::logger silent{std::string{}};
    silent.set_level(spdlog::level::off);
    return silent;
}

void set_up(std::string_view name) noexcept {
    try {
        std::call_once(logger_once, [name] { process_logger = create_logger(name); });
    } catch (...) {
        // call_once only throws what the callable throws, and it throws nothing.
    }
}

} // namespace

void init_logger(std::string_view name) noexcept {
    set_up(name);
}

spdlog::logger& logger() noexcept {
    set_up(default_logger_name);
    return process_logger != nullptr ? *process_logger : silent_logger();
}

} // namespace plugin_kit
