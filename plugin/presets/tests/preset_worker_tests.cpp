#include "plugin/presets/factory_presets.hpp"
#include "plugin/presets/preset_library.hpp"
#include "plugin/presets/preset_worker.hpp"

#include "test_support.hpp"

#include "webview/state/web_view_state.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <pthread.h>

#include <string>
#include <vector>

namespace tessellgrove {
namespace {

using preset_tests::Answer;
using preset_tests::drain_answers;
using preset_tests::TempConfigDir;
using preset_tests::write_file;

namespace fs = std::filesystem;

PresetCommand list() { return {PresetCommand::List{}}; }
PresetCommand load(std::string name, bool is_factory) { return {PresetCommand::Load{std::move(name), is_factory}}; }
PresetCommand save(std::string name) {
    TessellgrovePreset p = *FACTORY_PRESETS.find("Robot Voice");
    p.name = name;
    return {PresetCommand::Save{std::move(name), std::move(p)}};
}
PresetCommand remove(std::string name) { return {PresetCommand::Delete{std::move(name)}}; }

// Runs the worker thread over `commands` (all queued before it starts
// serving, then the sender is dropped) and returns its answers.
std::vector<Answer> run(std::vector<PresetCommand> commands,
                        const std::shared_ptr<webview::WebViewState>& state) {
    auto [tx, rx] = make_preset_command_queue();
    for (auto& c : commands) {
        EXPECT_TRUE(tx.send(std::move(c)));
    }
    std::thread worker = spawn_preset_worker(std::move(rx), state);
    tx.reset();
    worker.join();
    return drain_answers(*state);
}

std::vector<Answer> run(std::vector<PresetCommand> commands) {
    return run(std::move(commands), webview::WebViewState::from_size(900, 600));
}

std::string expected_list_payload(const std::vector<std::pair<std::string, bool>>& entries) {
    std::string out = "[";
    for (const auto& [name, factory] : entries) {
        if (out.size() > 1) {
            out += ",";
        }
        out += "{\"name\":\"" + name + "\",\"is_factory\":" + (factory ? "true" : "false") + "}";
    }
    return out + "]";
}

const std::vector<std::string> sorted_factory_names = {
    "Ambient Wash", "Bass Transformer", "Broken Transmission", "Combover", "Dense Texture", "Folded Harmonics",
    "Glitch Rhythm", "Granular Chaos", "Gritty Edge", "Harsh Metallic", "Init", "Keys Sparkle", "Lo-Fi Warmth",
    "Metallic Shimmer", "Octave Wobble", "Organ Swell", "Pad Thickener", "Radio Static", "Rhythmic Pulse",
    "Robot Voice", "Sci-Fi Scanner", "Slow Drift", "Spectral Cloud", "Stepped Destruction", "Synth Vowels",
    "Talking Synth", "Vowel Sweep", "Warm Chorus",
};

TEST(PresetWorker, ListWithoutPresetDirectoryIsByteExact) {
    TempConfigDir tmp;
    std::vector<std::pair<std::string, bool>> entries;
    for (const auto& n : sorted_factory_names) {
        entries.emplace_back(n, true);
    }
    const auto answers = run({list()});
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].action, "presets_list");
    EXPECT_EQ(answers[0].payload, expected_list_payload(entries));
    EXPECT_EQ(answers[0].payload.rfind("[{\"name\":\"Ambient Wash\",\"is_factory\":true},", 0), 0u);
}

TEST(PresetWorker, LoadFactoryInitSendsValuesThenLoaded) {
    TempConfigDir tmp;
    auto state = webview::WebViewState::from_size(900, 600);
    state->set_current_preset_name("Something");
    const auto answers = run({load("Init", true)}, state);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].action, "preset_values");
    EXPECT_EQ(answers[0].payload.rfind("[[\"input_gain\",0.5],[\"mix\",0.5],[\"output_gain\",0.6666667],", 0), 0u)
        << answers[0].payload;
    EXPECT_EQ(answers[0].payload.find_first_of(" \n"), std::string::npos);
    const auto values = nlohmann::json::parse(answers[0].payload);
    const auto expected = FACTORY_PRESETS.find("Init")->to_param_values();
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(values[i][0].get<std::string>(), expected[i].first);
        EXPECT_EQ(values[i][1].get<float>(), expected[i].second);
    }
    EXPECT_EQ(answers[1], (Answer{"preset_loaded", "Init"}));
    EXPECT_EQ(state->current_preset_name(), "Init");
}

TEST(PresetWorker, LoadFailures) {
    TempConfigDir tmp;
    write_file(tmp.presets() / "Broken.tessellgrove", "{ this is not json");
    auto state = webview::WebViewState::from_size(900, 600);
    const auto answers = run({load("init", true), load("Broken", false), load("Init", false),
                              load("Robot Voice", false), load("Broken", true)},
                             state);
    const std::vector<Answer> expected = {
        {"preset_error", "Preset 'init' not found"},
        {"preset_error", "Preset 'Broken' not found"},
        {"preset_error", "Preset 'Init' not found"},
        {"preset_error", "Preset 'Robot Voice' not found"},
        {"preset_error", "Preset 'Broken' not found"},
    };
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(state->current_preset_name(), "Init");
}

TEST(PresetWorker, SaveListLoadDeleteRoundTrip) {
    TempConfigDir tmp;
    auto state = webview::WebViewState::from_size(900, 600);
    const auto answers =
        run({save("Bass: Deep"), list(), load("Bass_ Deep", false), remove("Bass_ Deep"), list()}, state);
    ASSERT_EQ(answers.size(), 6u);
    EXPECT_EQ(answers[0], (Answer{"preset_saved", "Bass: Deep"}));
    EXPECT_EQ(answers[1].action, "presets_list");
    const auto listed = nlohmann::json::parse(answers[1].payload);
    ASSERT_EQ(listed.size(), 29u);
    // "bass_ deep" sorts after "bass transformer" (" " < "_").
    EXPECT_EQ(listed[2], nlohmann::json::parse(R"({"name":"Bass_ Deep","is_factory":false})"));
    EXPECT_EQ(answers[2].action, "preset_values");
    auto robot = *FACTORY_PRESETS.find("Robot Voice");
    EXPECT_EQ(answers[2].payload, preset_values_payload(robot.to_param_values()));
    EXPECT_EQ(answers[3], (Answer{"preset_loaded", "Bass_ Deep"}));
    EXPECT_EQ(answers[4], (Answer{"preset_deleted", "Bass_ Deep"}));
    EXPECT_EQ(answers[5].action, "presets_list");
    EXPECT_EQ(nlohmann::json::parse(answers[5].payload).size(), 28u);
    // Deleting leaves the name of the last loaded preset alone.
    EXPECT_EQ(state->current_preset_name(), "Bass_ Deep");
    EXPECT_FALSE(fs::exists(tmp.presets() / "Bass_ Deep.tessellgrove"));
}

TEST(PresetWorker, DeleteRules) {
    TempConfigDir tmp;
    fs::create_directories(tmp.presets() / "Folder.tessellgrove");
    const auto answers = run({remove("Init"), save("Init"), remove("Init"), remove("Init"), remove("Folder")});
    const std::vector<Answer> expected = {
        {"preset_error", "Preset 'Init' not found or is a factory preset"},
        {"preset_saved", "Init"},
        {"preset_deleted", "Init"},
        {"preset_error", "Preset 'Init' not found or is a factory preset"},
        {"preset_error", "IO error: Is a directory (os error 21)"},
    };
    EXPECT_EQ(answers, expected);
}

TEST(PresetWorker, SaveFailureAnswersTheErrorText) {
    TempConfigDir tmp;
    write_file(tmp.config(), "not a directory");
    const auto answers = run({save("X"), save(std::string("nul\0inside", 10))});
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], (Answer{"preset_error", "IO error: Not a directory (os error 20)"}));
    EXPECT_EQ(answers[1].action, "preset_error");
    EXPECT_EQ(answers[1].payload.rfind("IO error: ", 0), 0u);
}

TEST(PresetWorker, PayloadsSurviveQuotesAndLineBreaks) {
    TempConfigDir tmp;
    const std::string name = "It's a \"test\"\\ \nnew line";
    const auto answers = run({save(name), list()});
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], (Answer{"preset_saved", name}));
    const auto listed = nlohmann::json::parse(answers[1].payload);
    bool found = false;
    for (const auto& e : listed) {
        found = found || e["name"] == "It's a _test__ \nnew line";
    }
    EXPECT_TRUE(found) << answers[1].payload;
}

// Commands queued right before teardown are all answered, in order, before
// the thread ends.
TEST(PresetWorker, TeardownAnswersEveryQueuedCommand) {
    TempConfigDir tmp;
    std::vector<PresetCommand> commands;
    std::vector<Answer> expected;
    for (int i = 0; i < 20; ++i) {
        commands.push_back(save("P" + std::to_string(i)));
        expected.push_back({"preset_saved", "P" + std::to_string(i)});
        commands.push_back(remove("Q" + std::to_string(i)));
        expected.push_back({"preset_error", "Preset 'Q" + std::to_string(i) + "' not found or is a factory preset"});
    }
    commands.push_back(list());
    const auto answers = run(std::move(commands));
    ASSERT_EQ(answers.size(), expected.size() + 1);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), answers.begin()));
    EXPECT_EQ(nlohmann::json::parse(answers.back().payload).size(), 48u);
}

TEST(PresetWorker, IdleWorkerEndsWhenTheSenderGoesAndIsNamed) {
    auto state = webview::WebViewState::from_size(900, 600);
    auto [tx, rx] = make_preset_command_queue();
    std::thread worker = spawn_preset_worker(std::move(rx), state);
    char name[32] = {};
    ASSERT_EQ(::pthread_getname_np(worker.native_handle(), name, sizeof name), 0);
    EXPECT_EQ(std::string(name), "tessellgrove-pr");
    tx.reset();
    worker.join();
    EXPECT_EQ(state.use_count(), 1); // the worker released its reference
    EXPECT_TRUE(drain_answers(*state).empty());
}

} // namespace
} // namespace tessellgrove
