// End-to-end tests of tessellgrove-render's preset and editor-page options.
// Every test points XDG_CONFIG_HOME at its own temporary directory, so user
// presets come only from what the test writes.

#include "plugin/presets/factory_presets.hpp"
#include "plugin/presets/tessellgrove_preset.hpp"
#include "tools/tests/cli_support.hpp"
#include "ui/editor_texts.hpp"
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tessellgrove::render {
namespace {

namespace fs = std::filesystem;
using cli_support::read_file;
using cli_support::run_program;
using cli_support::RunResult;

class PresetCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "tessellgrove-presets-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            saved_xdg_ = old;
        }
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    void TearDown() override {
        if (saved_xdg_) {
            setenv("XDG_CONFIG_HOME", saved_xdg_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        fs::remove_all(dir_);
    }

    fs::path presets_dir() const { return dir_ / "config" / "corvalune" / "tessellgrove" / "Presets"; }

    void write_user_file(const std::string& stem, const std::string& text) const {
        fs::create_directories(presets_dir());
        std::ofstream(presets_dir() / (stem + ".tessellgrove"), std::ios::binary) << text;
    }

    RunResult run(const std::vector<std::string>& args) const {
        return run_program(TESSELLGROVE_RENDER_EXE, args, dir_);
    }

    // Renders the built-in signal with `args` into `name`; the samples,
    // interleaved (the file header carries a time stamp, so bytes differ).
    std::vector<float> render(const std::string& name, std::vector<std::string> args) const {
        const fs::path out = dir_ / name;
        args.insert(args.end(), {"--sample-rate", "22050", "-o", out.string()});
        const RunResult r = run(args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        SF_INFO info{};
        SNDFILE* file = sf_open(out.c_str(), SFM_READ, &info);
        if (file == nullptr) {
            ADD_FAILURE() << "cannot open " << out;
            return {};
        }
        std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
        EXPECT_EQ(sf_readf_float(file, samples.data(), info.frames), info.frames);
        sf_close(file);
        return samples;
    }

    // --set-normalised for every value of `record`, printed exactly.
    static std::vector<std::string> explicit_settings(const TessellgrovePreset& record) {
        std::vector<std::string> args;
        for (const auto& [id, value] : record.to_param_values()) {
            char text[64];
            std::snprintf(text, sizeof text, "%s=%.9g", std::string(id).c_str(), static_cast<double>(value));
            args.insert(args.end(), {"--set-normalised", text});
        }
        return args;
    }

    fs::path dir_;
    std::optional<std::string> saved_xdg_;
};

TEST_F(PresetCli, FactoryPresetRendersLikeItsValuesSetOneByOne) {
    // A sample of presets across the carrier modes and character stages.
    for (const char* name : {"Radio Static", "Vowel Sweep", "Folded Harmonics", "Combover"}) {
        SCOPED_TRACE(name);
        const TessellgrovePreset* record = FACTORY_PRESETS.find(name);
        ASSERT_NE(record, nullptr);
        const std::vector<float> by_name = render("by_name.wav", {"--preset", name});
        const std::vector<float> by_values = render("by_values.wav", explicit_settings(*record));
        ASSERT_FALSE(by_name.empty());
        EXPECT_TRUE(by_name == by_values);
        // The preset is not a no-op: the defaults sound different.
        EXPECT_FALSE(by_name == render("defaults.wav", {}));
    }
}

TEST_F(PresetCli, SetOptionsApplyOnTopOfThePreset) {
    const std::vector<float> dry = render("dry.wav", {"--set", "mix=0%"});
    // Wherever --preset stands on the line, a later-applied mix=0% wins.
    EXPECT_TRUE(render("a.wav", {"--preset", "Radio Static", "--set", "mix=0%"}) == dry);
    EXPECT_TRUE(render("b.wav", {"--set", "mix=0%", "--preset", "Radio Static"}) == dry);
}

TEST_F(PresetCli, UserPresetByFileStemAndFactoryNamesFirst) {
    TessellgrovePreset mine;
    mine.name = "Shown Name";
    mine.mix = 0.9f;
    mine.carrier_mode = 2;
    mine.char_mode = 3;
    write_user_file("my-stem", mine.to_json());
    // A user file whose stem is a factory name is shadowed by the factory preset.
    TessellgrovePreset fake_init;
    fake_init.mix = 0.0f;
    write_user_file("Init", fake_init.to_json());

    EXPECT_TRUE(render("user.wav", {"--preset", "my-stem"}) == render("values.wav", explicit_settings(mine)));
    EXPECT_TRUE(render("init.wav", {"--preset", "Init"}) ==
                render("init_values.wav", explicit_settings(*FACTORY_PRESETS.find("Init"))));

    const RunResult by_shown_name = run({"--preset", "Shown Name", "-o", (dir_ / "x.wav").string()});
    EXPECT_EQ(by_shown_name.exit_code, 2);
}

struct FailingPreset {
    std::string name;
    std::string file_text; // written as "<name>.tessellgrove" when not empty
    int exit_code;
    std::string mentions;
};

class PresetCliFailure : public PresetCli, public ::testing::WithParamInterface<FailingPreset> {};

TEST_P(PresetCliFailure, ReportsAndWritesNothing) {
    const FailingPreset& c = GetParam();
    if (!c.file_text.empty()) {
        write_user_file(c.name, c.file_text);
    }
    const fs::path out = dir_ / "out.wav";
    const RunResult r = run({"--preset", c.name, "-o", out.string()});
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    PresetCli, PresetCliFailure,
    ::testing::Values(FailingPreset{"No Such Preset", "", 2, "no preset named 'No Such Preset'"},
                      FailingPreset{"init", "", 2, "no preset named 'init'"}, // factory names match exactly
                      FailingPreset{"broken", "{\"name\": ", 1, "JSON error"}));

TEST_F(PresetCli, ListPresetsShowsEveryPresetInTheLibrarysOrder) {
    TessellgrovePreset mine;
    mine.name = "Whatever";
    write_user_file("Zebra Lines", mine.to_json());

    const RunResult r = run({"--list-presets"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    // One list sorted by name without regard to case, user files by stem.
    std::vector<std::string> expected;
    for (const TessellgrovePreset& record : FACTORY_PRESETS) {
        expected.push_back("factory  " + record.name);
    }
    expected.push_back("user     Zebra Lines");
    const auto folded = [](std::string line) {
        line = line.substr(9);
        for (char& c : line) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return line;
    };
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const std::string& a, const std::string& b) { return folded(a) < folded(b); });
    EXPECT_EQ(lines, expected);

    const RunResult json = run({"--list-presets", "--json"});
    ASSERT_EQ(json.exit_code, 0) << json.err;
    const auto list = nlohmann::json::parse(json.out);
    ASSERT_EQ(list.size(), FACTORY_PRESETS.size() + 1);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const bool factory = lines[i].starts_with("factory");
        EXPECT_EQ(list[i], nlohmann::json({{"name", lines[i].substr(9)}, {"is_factory", factory}}));
    }
}

TEST_F(PresetCli, PrintEditorPageHasTheBridgeScriptOnceBeforeTheHeadEnds) {
    const RunResult r = run({"--print-editor-page"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string_view page = ui::editor_page_html();
    const std::string_view bridge = ui::bridge_script();
    const std::string element = "<script>" + std::string(bridge) + "</script>";
    ASSERT_EQ(r.out.size(), page.size() + bridge.size() + 17);
    const std::size_t head_end = page.find("</head>");
    ASSERT_NE(head_end, std::string_view::npos);
    EXPECT_EQ(r.out.substr(0, head_end), page.substr(0, head_end));
    EXPECT_EQ(r.out.substr(head_end, element.size()), element);
    EXPECT_EQ(r.out.substr(head_end + element.size()), page.substr(head_end));
}

} // namespace
} // namespace tessellgrove::render
