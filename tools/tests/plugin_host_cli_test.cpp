// End-to-end tests of tessellgrove-render hosting plug-in files: the built
// Tessellgrove library through CLAP (the default) and VST3, host state files
// in both framings, and a foreign plug-in given with --plugin.

#include "tools/render/loaded_host.hpp"
#include "tools/render/options.hpp"
#include "tools/tests/cli_support.hpp"
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tessellgrove::render {
namespace {

namespace fs = std::filesystem;
using cli_support::read_file;
using cli_support::run_program;
using cli_support::RunResult;
using plugin_kit::host::PluginFormat;

const std::string zam_clap = "/usr/lib/clap/ZamCompX2.clap";
const std::string zam_vst3 = "/usr/lib/vst3/ZamCompX2.vst3/Contents/x86_64-linux/ZamCompX2.so";

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class HostCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "tessellgrove-host-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    RunResult run(const std::vector<std::string>& args) const {
        return run_program(TESSELLGROVE_RENDER_EXE, args, dir_);
    }

    // Renders the built-in signal at 22050 Hz and returns the interleaved
    // samples (the file's bytes also carry a time stamp, so compare these).
    std::vector<float> render(const std::string& name, std::vector<std::string> extra) const {
        const fs::path out = dir_ / name;
        std::vector<std::string> args = {"--sample-rate", "22050", "-o", out.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = run(args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        SF_INFO info{};
        SNDFILE* file = sf_open(out.c_str(), SFM_READ, &info);
        if (file == nullptr) {
            ADD_FAILURE() << "cannot open " << out;
            return {};
        }
        std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
        EXPECT_EQ(sf_readf_float(file, samples.data(), info.frames), info.frames);
        sf_close(file);
        return samples;
    }

    fs::path dir_;
};

const std::vector<std::string> wet_settings = {"--set", "char_mode=Fold", "--set", "carrier_mode=Stoch", "--set",
                                               "comb_mix=0.5", "--set", "mix=90%", "--bpm", "100", "--playing"};

TEST_F(HostCli, BothFormatsRenderTheSameBytes) {
    std::vector<std::string> clap_args = wet_settings;
    std::vector<std::string> vst3_args = wet_settings;
    vst3_args.insert(vst3_args.end(), {"--format", "vst3"});
    const std::vector<float> clap = render("clap.wav", clap_args);
    const std::vector<float> vst3 = render("vst3.wav", vst3_args);
    ASSERT_FALSE(clap.empty());
    EXPECT_TRUE(clap == vst3);
    EXPECT_FALSE(clap == render("dry.wav", {"--set", "mix=0%"}));
}

TEST_F(HostCli, BothFormatsListTheSameParameters) {
    const RunResult clap = run({"--list-params", "--json"});
    const RunResult vst3 = run({"--list-params", "--json", "--format", "vst3"});
    ASSERT_EQ(clap.exit_code, 0) << clap.err;
    ASSERT_EQ(vst3.exit_code, 0) << vst3.err;
    const auto a = nlohmann::json::parse(clap.out);
    const auto b = nlohmann::json::parse(vst3.out);
    ASSERT_EQ(a.size(), 29u);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        for (const char* key : {"id", "name", "kind", "min_text", "max_text", "default_text", "step_count"}) {
            EXPECT_EQ(a[i].at(key), b[i].at(key)) << a[i].at("id") << " " << key;
        }
        EXPECT_NEAR(a[i].at("default_normalised").get<double>(), b[i].at("default_normalised").get<double>(), 1e-6);
    }
}

// A state saved in either format restores the same sound in both.
struct StateCase {
    const char* saved_with;
    const char* loaded_with;
};

class HostCliState : public HostCli, public ::testing::WithParamInterface<StateCase> {};

TEST_P(HostCliState, SavedSettingsComeBackFromTheStateFile) {
    const StateCase c = GetParam();
    const fs::path state = dir_ / "project.state";
    std::vector<std::string> save_args = wet_settings;
    save_args.insert(save_args.end(), {"--format", c.saved_with, "--save-state", state.string()});
    const std::vector<float> with_settings = render("with.wav", save_args);
    const std::string bytes = read_file(state);
    ASSERT_FALSE(bytes.empty());
    // CLAP keeps its 8-byte length prefix; VST3 stores the text alone.
    EXPECT_EQ(bytes.front() == '{', std::string(c.saved_with) == "vst3");
    EXPECT_EQ(state_text(bytes).front(), '{');

    const std::vector<float> restored = render("restored.wav", {"--format", c.loaded_with, "--state", state.string(),
                                                         "--bpm", "100", "--playing"});
    EXPECT_TRUE(restored == with_settings);
}

INSTANTIATE_TEST_SUITE_P(Formats, HostCliState,
                         ::testing::Values(StateCase{"clap", "clap"}, StateCase{"vst3", "vst3"},
                                           StateCase{"clap", "vst3"}, StateCase{"vst3", "clap"}),
                         [](const auto& test_info) {
                             return std::string(test_info.param.saved_with) + "_to_" + test_info.param.loaded_with;
                         });

TEST_F(HostCli, SettingsApplyOnTopOfALoadedState) {
    const fs::path state = dir_ / "wet.state";
    std::vector<std::string> args = wet_settings;
    args.insert(args.end(), {"--save-state", state.string()});
    render("wet.wav", args);
    const std::vector<float> dry = render("dry.wav", {"--set", "mix=0%"});
    EXPECT_FALSE(render("state.wav", {"--state", state.string()}) == dry);
    EXPECT_TRUE(render("state_then_dry.wav", {"--state", state.string(), "--set", "mix=0%"}) == dry);
}

struct RefusedCase {
    std::string name;
    std::string content; // state file content; empty name part "missing" means no file
    std::string format;
    std::string message;
};

class HostCliRefusedState : public HostCli, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(HostCliRefusedState, IsAClearErrorAndWritesNothing) {
    const RefusedCase& c = GetParam();
    const fs::path state = dir_ / "bad.state";
    if (c.name != "Missing") {
        write_file(state, c.content);
    }
    const fs::path out = dir_ / "out.wav";
    const RunResult r = run({"--format", c.format, "--state", state.string(), "-o", out.string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    States, HostCliRefusedState,
    ::testing::Values(RefusedCase{"Missing", "", "clap", "cannot read state file"},
                      RefusedCase{"NotJsonClap", "hello", "clap", "refused the state"},
                      RefusedCase{"NotJsonVst3", "hello", "vst3", "refused the state"},
                      RefusedCase{"CutShort", R"({"version":"0.1.0","params":{"mix":)", "vst3", "refused the state"},
                      RefusedCase{"PrefixPromisesMore", std::string("\x40\0\0\0\0\0\0\0{}", 10), "clap",
                                  "refused the state"}),
    [](const auto& test_info) { return test_info.param.name; });

TEST_F(HostCli, AMissingPluginFileIsAnError) {
    const RunResult r = run({"--plugin", (dir_ / "none.clap").string(), "--list-params"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("cannot load clap plug-in"), std::string::npos) << r.err;
}

// A plug-in built elsewhere, in both formats: listed by numeric id, set by
// its own text parser, processed, its state saved.
struct ForeignCase {
    std::string path;
    std::string format;
};

class HostCliForeign : public HostCli, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(HostCliForeign, ListsRendersAndSavesState) {
    const ForeignCase& c = GetParam();
    if (!fs::exists(c.path)) {
        GTEST_SKIP() << c.path << " is not installed (Debian package zam-plugins)";
    }
    const RunResult list = run({"--plugin", c.path, "--format", c.format, "--list-params", "--json"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    const auto params = nlohmann::json::parse(list.out);
    ASSERT_FALSE(params.empty());
    std::string threshold_id;
    for (const auto& p : params) {
        EXPECT_NO_THROW((void)std::stoul(p.at("id").get<std::string>())) << p;
        if (p.at("name") == "Threshold") {
            threshold_id = p.at("id").get<std::string>();
        }
    }
    ASSERT_FALSE(threshold_id.empty());

    const std::vector<float> plain = render("plain.wav", {"--plugin", c.path, "--format", c.format});
    const std::vector<float> squashed = render("squashed.wav", {"--plugin", c.path, "--format", c.format, "--set",
                                                         threshold_id + "=-40"});
    ASSERT_FALSE(plain.empty());
    EXPECT_FALSE(plain == squashed) << "a -40 dB threshold compresses the test signal";

    const RunResult unknown = run({"--plugin", c.path, "--format", c.format, "--set", "threshold=-40", "-o",
                                   (dir_ / "bad.wav").string()});
    EXPECT_EQ(unknown.exit_code, 2) << "foreign parameters go by numeric id";

    if (c.format == "vst3") {
        const fs::path state = dir_ / "zam.state";
        render("saved.wav", {"--plugin", c.path, "--format", c.format, "--set", threshold_id + "=-40", "--save-state",
                             state.string()});
        ASSERT_TRUE(fs::exists(state));
        EXPECT_TRUE(render("restored.wav", {"--plugin", c.path, "--format", c.format, "--state", state.string()}) ==
                    squashed);
    }
}

INSTANTIATE_TEST_SUITE_P(Zam, HostCliForeign,
                         ::testing::Values(ForeignCase{zam_clap, "clap"}, ForeignCase{zam_vst3, "vst3"}),
                         [](const auto& test_info) { return test_info.param.format; });

TEST(HostOptions, FormatPluginAndStateFiles) {
    const std::vector<std::string_view> args = {"--format", "vst3", "--plugin=x.so", "--state", "s.json",
                                                "--save-state", "t.json", "-o", "o.wav"};
    const ParsedOptions parsed = parse_options(args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->format, "vst3");
    EXPECT_EQ(parsed.options->plugin, "x.so");
    EXPECT_EQ(parsed.options->state, "s.json");
    EXPECT_EQ(parsed.options->save_state, "t.json");
    for (const std::vector<std::string_view>& bad : std::vector<std::vector<std::string_view>>{
             {"--format", "au", "-o", "o.wav"}, {"--format"}, {"--plugin", "", "-o", "o.wav"}, {"--state"}}) {
        EXPECT_FALSE(parse_options(bad).options) << bad[0];
    }
}

TEST(StateFraming, TellsTheFormsApartByTheirPrefix) {
    const std::string text = R"({"version":"0.1.0","params":{},"fields":{}})";
    const std::string clap = frame_state(text, PluginFormat::Clap);
    ASSERT_EQ(clap.size(), text.size() + 8);
    EXPECT_EQ(static_cast<unsigned char>(clap[0]), text.size());
    EXPECT_EQ(state_text(clap), text);
    EXPECT_EQ(state_text(text), text);
    EXPECT_EQ(frame_state(text, PluginFormat::Vst3), text);
    // A prefix that does not announce exactly the rest is no prefix.
    const std::string odd = clap + " ";
    EXPECT_EQ(state_text(odd), odd);
}

} // namespace
} // namespace tessellgrove::render
