// Parameter changes at frames within a block: what the host hands a CLAP
// plug-in (the event recorder shows each block's events in its audio).

#include "plugin_kit/host/clap_host.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace plugin_kit::host;

struct Block {
    std::vector<float> left = std::vector<float>(16, 9.0f);
    std::vector<float> right = std::vector<float>(16, 9.0f);
};

TEST(HostSampleAccurate, ChangesReachTheBlockInTimeOrderOnePerParameterAndFrame) {
    LoadResult loaded = load_plugin(EVENT_RECORDER_CLAP, PluginFormat::Clap);
    ASSERT_TRUE(loaded.plugin) << loaded.error;
    HostedPlugin& plugin = *loaded.plugin;
    ASSERT_TRUE(plugin.activate(48000.0, 16));
    // Given out of time order; the second change of parameter 1 at frame 10
    // replaces the first, while parameter 2 keeps a change at each of its frames.
    ASSERT_TRUE(plugin.set_param_at(1, 0.5, 10));
    ASSERT_TRUE(plugin.set_param_at(2, 0.25, 3));
    ASSERT_TRUE(plugin.set_param_at(1, 0.75, 10));
    ASSERT_TRUE(plugin.set_param_at(3, 0.125, 0));
    ASSERT_TRUE(plugin.set_param_at(2, 0.375, 15));
    Block block;
    float* io[] = {block.left.data(), block.right.data()};
    ASSERT_TRUE(plugin.process(io, io, 16, HostTransport{})) << "events out of time order";
    std::vector<float> values(16, 0.0f), order(16, 0.0f);
    values[0] = 0.125f, values[3] = 0.25f, values[10] = 0.75f, values[15] = 0.375f;
    order[0] = 1.0f, order[3] = 2.0f, order[10] = 3.0f, order[15] = 4.0f;
    EXPECT_EQ(block.left, values);
    EXPECT_EQ(block.right, order);

    // The changes went with that block only.
    Block next;
    float* io2[] = {next.left.data(), next.right.data()};
    ASSERT_TRUE(plugin.process(io2, io2, 16, HostTransport{}));
    EXPECT_EQ(next.left, std::vector<float>(16, 0.0f));
}

} // namespace
