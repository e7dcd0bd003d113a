#include "tools/render/options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessellgrove::render {
namespace {

ParsedOptions parse(std::vector<std::string_view> args) { return parse_options(args); }

TEST(RenderOptions, ReadsEveryOptionInBothSpellings) {
    const auto parsed = parse({"--set", "mix=75%", "--set=lock_freq=440 Hz", "--set-normalised", "comb_mix=0.25",
                               "--block=256", "--bpm", "98.5", "--playing", "--sample-rate=48000", "-o", "out.wav"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const RenderOptions& o = *parsed.options;
    ASSERT_EQ(o.settings.size(), 3u);
    EXPECT_EQ(o.settings[0].id, "mix");
    EXPECT_EQ(o.settings[0].value, "75%");
    EXPECT_EQ(o.settings[1].id, "lock_freq");
    EXPECT_EQ(o.settings[1].value, "440 Hz"); // only the first '=' splits
    EXPECT_EQ(o.settings[2].kind, ParamSetting::Kind::Normalised);
    EXPECT_EQ(o.block_size, 256u);
    EXPECT_EQ(o.bpm, 98.5);
    EXPECT_TRUE(o.playing);
    EXPECT_EQ(o.sample_rate, 48000.0f);
    EXPECT_FALSE(o.input);
    EXPECT_EQ(o.output, "out.wav");
}

TEST(RenderOptions, ListingNeedsNoFiles) {
    const auto parsed = parse({"--list-params", "--json"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_TRUE(parsed.options->list_params);
    EXPECT_TRUE(parsed.options->json);
    const auto presets = parse({"--list-presets", "--json"});
    ASSERT_TRUE(presets.options) << presets.error;
    EXPECT_TRUE(presets.options->list_presets);
    const auto page = parse({"--print-editor-page"});
    ASSERT_TRUE(page.options) << page.error;
    EXPECT_TRUE(page.options->print_editor_page);
}

TEST(RenderOptions, PresetNameIsKeptWhole) {
    const auto parsed = parse({"--preset", "Sci-Fi Scanner", "--set", "mix=10%", "-o", "out.wav"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->preset, "Sci-Fi Scanner");
    EXPECT_EQ(parsed.options->settings.size(), 1u);
}

struct BadCommandLine {
    std::vector<std::string_view> args;
    std::string mentions; // the message must name the problem
};

class RenderOptionsRejects : public ::testing::TestWithParam<BadCommandLine> {};

TEST_P(RenderOptionsRejects, WithAMessageNamingTheProblem) {
    const auto parsed = parse(GetParam().args);
    EXPECT_FALSE(parsed.options);
    EXPECT_NE(parsed.error.find(GetParam().mentions), std::string::npos) << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    RenderOptions, RenderOptionsRejects,
    ::testing::Values(BadCommandLine{{}, "-o OUTPUT"}, BadCommandLine{{"-i", "in.wav"}, "-o OUTPUT"},
                      BadCommandLine{{"-o"}, "-o needs a file name"},
                      BadCommandLine{{"--set", "mix", "-o", "x.wav"}, "--set needs id=VALUE"},
                      BadCommandLine{{"--set", "=5", "-o", "x.wav"}, "--set needs id=VALUE"},
                      BadCommandLine{{"--block", "0", "-o", "x.wav"}, "--block"},
                      BadCommandLine{{"--block", "12.5", "-o", "x.wav"}, "--block"},
                      BadCommandLine{{"--block", "2000000", "-o", "x.wav"}, "--block"},
                      BadCommandLine{{"--bpm", "fast", "-o", "x.wav"}, "--bpm"},
                      BadCommandLine{{"--bpm", "-5", "-o", "x.wav"}, "--bpm"},
                      BadCommandLine{{"--sample-rate", "100", "-o", "x.wav"}, "--sample-rate"},
                      BadCommandLine{{"-i", "a.wav", "--sample-rate", "48000", "-o", "x.wav"}, "--sample-rate"},
                      BadCommandLine{{"--json", "-o", "x.wav"}, "--list-params"},
                      BadCommandLine{{"--json", "--print-editor-page"}, "--list-presets"},
                      BadCommandLine{{"--list-presets", "--print-editor-page"}, "exclude each other"},
                      BadCommandLine{{"-o", "x.wav", "--preset"}, "--preset needs a preset name"},
                      BadCommandLine{{"--preset=", "-o", "x.wav"}, "--preset needs a preset name"},
                      BadCommandLine{{"--playing=yes", "-o", "x.wav"}, "--playing"},
                      BadCommandLine{{"--frobnicate", "-o", "x.wav"}, "--frobnicate"}));

} // namespace
} // namespace tessellgrove::render
