#include "plugin_kit/log/log.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>

namespace {

// Several threads race to set the logger up under different names: exactly
// one set-up wins, everyone ends with the same object, at information level.
TEST(Logger, ConcurrentFirstSetUpWinsOnce) {
    const std::array<std::string, 4> names{"first", "second", "third", "fourth"};
    std::array<spdlog::logger*, 4> seen{};
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < names.size(); ++i) {
        threads.emplace_back([&, i] {
            plugin_kit::init_logger(names[i]);
            seen[i] = &plugin_kit::logger();
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (auto* logger : seen) {
        EXPECT_EQ(logger, seen[0]);
    }
    // One of the racing names, or the default one when an earlier test in
    // this process reached the logger first.
    const std::string winner = seen[0]->name();
    EXPECT_TRUE(std::find(names.begin(), names.end(), winner) != names.end() ||
                winner == plugin_kit::default_logger_name)
        << winner;

    // A later set-up changes nothing.
    plugin_kit::init_logger("late");
    EXPECT_EQ(&plugin_kit::logger(), seen[0]);
    EXPECT_EQ(plugin_kit::logger().name(), winner);

    EXPECT_TRUE(plugin_kit::logger().should_log(spdlog::level::info));
    EXPECT_FALSE(plugin_kit::logger().should_log(spdlog::level::debug));
}

TEST(Logger, LogInfoFormatsOneLine) {
    auto sink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(8);
    sink->set_pattern("%l|%v");
    auto& sinks = plugin_kit::logger().sinks();
    sinks.push_back(sink);
    plugin_kit::log_info("WebView editor spawn: {}x{}, HTML: {} bytes", 900u, 600u, std::size_t{215035});
    sinks.pop_back();
    const auto lines = sink->last_formatted();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "info|WebView editor spawn: 900x600, HTML: 215035 bytes\n");
}

} // namespace
