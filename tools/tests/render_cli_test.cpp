// End-to-end tests of the tessellgrove-render program on real files.

#include "plugin/params/tessellgrove_params.hpp"
#include "tools/render/test_signal.hpp"
#include "tools/tests/cli_support.hpp"
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace tessellgrove::render {
namespace {

namespace fs = std::filesystem;
using cli_support::read_file;
using cli_support::run_program;
using cli_support::RunResult;

struct Audio {
    int format = 0;
    int channels = 0;
    int sample_rate = 0;
    std::vector<float> samples; // interleaved
    std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
    float at(std::size_t frame, int channel) const {
        return samples[frame * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)];
    }
};

Audio read_audio(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open " << path << ": " << sf_strerror(nullptr);
        return {};
    }
    Audio audio{info.format, info.channels, info.samplerate, {}};
    audio.samples.resize(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    EXPECT_EQ(sf_readf_float(file, audio.samples.data(), info.frames), info.frames);
    sf_close(file);
    return audio;
}

void write_audio(const fs::path& path, const Audio& audio) {
    SF_INFO info{};
    info.format = audio.format;
    info.channels = audio.channels;
    info.samplerate = audio.sample_rate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const auto frames = static_cast<sf_count_t>(audio.frames());
    EXPECT_EQ(sf_writef_float(file, audio.samples.data(), frames), frames);
    sf_close(file);
}

class RenderCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "tessellgrove-render-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    RunResult run(const std::vector<std::string>& args) const {
        return run_program(TESSELLGROVE_RENDER_EXE, args, dir_);
    }

    // Files in the test directory, by name.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

// Display texts of some defaults, as hosts show them (value and unit).
const std::map<std::string, std::string> default_texts = {
    {"input_gain", "0.0 dB"}, {"mix", "50 %"},          {"stereo_width", "100 %"},
    {"lock_freq", "440 Hz"},  {"formant_position", "0.50"}, {"swarm_count", "4"},
    {"lock_motion_enable", "Off"}, {"lock_motion_rate", "1/4"}, {"char_mode", "Clean"},
    {"comb_mix", "0"},        {"comb_tuning", "440 Hz"},     {"output_gain", "0.0 dB"},
};

TEST_F(RenderCli, ListParamsPrintsAll29InOrderWithTheirDefaultTexts) {
    const RunResult r = run({"--list-params"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line); // header
    std::vector<std::string> ids;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index, id;
        fields >> index >> id;
        EXPECT_EQ(index, std::to_string(ids.size() + 1));
        ids.push_back(id);
        if (const auto it = default_texts.find(id); it != default_texts.end()) {
            EXPECT_TRUE(line.ends_with("  " + it->second)) << line;
        }
    }
    EXPECT_EQ(ids, std::vector<std::string>(param_ids.begin(), param_ids.end()));
}

TEST_F(RenderCli, ListParamsJsonIsMachineReadable) {
    const RunResult r = run({"--list-params", "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto list = nlohmann::json::parse(r.out);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), param_ids.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto& p = list[i];
        const auto id = p.at("id").get<std::string>();
        EXPECT_EQ(id, param_ids[i]);
        if (const auto it = default_texts.find(id); it != default_texts.end()) {
            EXPECT_EQ(p.at("default_text"), it->second);
        }
    }
    EXPECT_EQ(list[0].at("name"), "Input Gain");
    EXPECT_EQ(list[0].at("min"), -12.0);
    EXPECT_EQ(list[0].at("default_normalised"), 0.5);
    EXPECT_NEAR(list[4].at("default_normalised").get<double>(), 0.5329, 1e-4); // lock_freq, skewed
    EXPECT_NEAR(list[19].at("default_normalised").get<double>(), 1.0 / 7.0, 1e-6); // swarm_count
    EXPECT_EQ(list[24].at("variants"), nlohmann::json({"Clean", "Grit", "Warm", "Fold"}));
    EXPECT_EQ(list[24].at("default_text"), "Clean");
}

struct GeneratedCase {
    int sample_rate;
    int block;
};

class RenderCliGenerated : public RenderCli, public ::testing::WithParamInterface<GeneratedCase> {};

TEST_P(RenderCliGenerated, DryMixReturnsTheBuiltInSignal) {
    const auto [rate, block] = GetParam();
    const fs::path out = dir_ / "dry.wav";
    const RunResult r = run({"--set", "mix=0%", "--sample-rate", std::to_string(rate), "--block",
                             std::to_string(block), "-o", out.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const Audio audio = read_audio(out);
    EXPECT_EQ(audio.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.sample_rate, rate);
    const StereoSignal expected = make_test_signal(static_cast<float>(rate));
    ASSERT_EQ(audio.frames(), expected.left.size());
    EXPECT_EQ(audio.frames(), static_cast<std::size_t>(4 * rate));

    float peak = 0.0f;
    for (std::size_t i = 0; i < audio.frames(); ++i) {
        const float l = std::clamp(expected.left[i], -4.0f, 4.0f);
        const float r_ = std::clamp(expected.right[i], -4.0f, 4.0f);
        // Mid/side with width 1 gives the pair back up to rounding.
        ASSERT_NEAR(audio.at(i, 0), l, 1e-6f) << "frame " << i;
        ASSERT_NEAR(audio.at(i, 1), r_, 1e-6f) << "frame " << i;
        peak = std::max(peak, std::fabs(l));
    }
    EXPECT_GT(peak, 0.5f); // the signal is really there
}

INSTANTIATE_TEST_SUITE_P(RenderCli, RenderCliGenerated,
                         ::testing::Values(GeneratedCase{44100, 512}, GeneratedCase{48000, 37},
                                           GeneratedCase{22050, 1}),
                         [](const auto& test_info) {
                             return std::to_string(test_info.param.sample_rate) + "Hz_block" +
                                    std::to_string(test_info.param.block);
                         });

TEST_F(RenderCli, TheResultDoesNotDependOnTheBlockSize) {
    std::vector<Audio> renders;
    for (const char* block : {"512", "37", "4096"}) {
        const fs::path out = dir_ / (std::string("wet-") + block + ".wav");
        const RunResult r = run({"--set", "char_mode=Fold", "--set", "comb_mix=0.6", "--set", "comb_feedback=0.7",
                                 "--set", "lock_motion_enable=on", "--bpm", "128", "--playing", "--block", block,
                                 "-o", out.string()});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        renders.push_back(read_audio(out));
    }
    EXPECT_EQ(renders[0].samples, renders[1].samples);
    EXPECT_EQ(renders[0].samples, renders[2].samples);

    const StereoSignal input = make_test_signal(44100.0f);
    ASSERT_EQ(renders[0].frames(), input.left.size());
    double difference = 0.0;
    for (std::size_t i = 0; i < input.left.size(); ++i) {
        difference += std::fabs(renders[0].at(i, 0) - input.left[i]);
        ASSERT_LE(std::fabs(renders[0].at(i, 0)), 4.0f);
        ASSERT_LE(std::fabs(renders[0].at(i, 1)), 4.0f);
    }
    EXPECT_GT(difference / static_cast<double>(input.left.size()), 1e-3); // the effect is audible
}

struct SilenceCase {
    std::string name;
    int format;
    int channels;
};

class RenderCliSilence : public RenderCli, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(RenderCliSilence, DefaultsTurnSilenceIntoExactZerosInTheInputsFormat) {
    const SilenceCase& c = GetParam();
    const fs::path in = dir_ / ("silence." + c.name);
    const fs::path out = dir_ / ("out." + c.name);
    Audio silence{c.format, c.channels, 48000, std::vector<float>(static_cast<std::size_t>(48000 * c.channels), 0.0f)};
    write_audio(in, silence);

    const RunResult r = run({"-i", in.string(), "-o", out.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Audio audio = read_audio(out);
    EXPECT_EQ(audio.format, c.format);
    EXPECT_EQ(audio.channels, std::max(2, c.channels)); // mono comes back as stereo
    EXPECT_EQ(audio.sample_rate, 48000);
    EXPECT_EQ(audio.frames(), 48000u);
    EXPECT_TRUE(std::all_of(audio.samples.begin(), audio.samples.end(), [](float x) { return x == 0.0f; }));
}

INSTANTIATE_TEST_SUITE_P(
    RenderCli, RenderCliSilence,
    ::testing::Values(SilenceCase{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
                      SilenceCase{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2},
                      SilenceCase{"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1},
                      SilenceCase{"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2}),
    [](const auto& test_info) { return test_info.param.name; });

TEST_F(RenderCli, ChannelsBeyondTheFirstTwoPassUntouched) {
    const fs::path in = dir_ / "three.wav";
    const fs::path out = dir_ / "three-out.wav";
    const StereoSignal signal = make_test_signal(44100.0f);
    Audio three{SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3, 44100, {}};
    for (std::size_t i = 0; i < signal.left.size(); ++i) {
        three.samples.insert(three.samples.end(), {signal.left[i], signal.right[i], 0.5f * signal.left[i]});
    }
    write_audio(in, three);

    const RunResult r = run({"-i", in.string(), "-o", out.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Audio audio = read_audio(out);
    ASSERT_EQ(audio.channels, 3);
    ASSERT_EQ(audio.frames(), signal.left.size());
    bool processed = false;
    for (std::size_t i = 0; i < audio.frames(); ++i) {
        ASSERT_EQ(audio.at(i, 2), three.at(i, 2)) << "frame " << i;
        processed = processed || audio.at(i, 0) != three.at(i, 0);
    }
    EXPECT_TRUE(processed);
}

TEST_F(RenderCli, AReadErrorHalfwayLeavesTheOldOutputAndNoTemporaryFile) {
    // A FLAC file whose second half is garbage: the decoder fails only after
    // part of the output has been rendered.
    const fs::path in = dir_ / "broken.flac";
    const fs::path out = dir_ / "out.flac";
    const StereoSignal signal = make_test_signal(44100.0f);
    Audio audio{SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, {}};
    for (std::size_t i = 0; i < signal.left.size(); ++i) {
        audio.samples.insert(audio.samples.end(), {signal.left[i], signal.right[i]});
    }
    write_audio(in, audio);
    std::string bytes = read_file(in);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4096; ++i) {
        bytes[i] = static_cast<char>(0xAB);
    }
    std::ofstream(in, std::ios::binary | std::ios::trunc) << bytes;
    const std::string previous = "previous render\n";
    std::ofstream(out, std::ios::binary) << previous;
    const auto before = listing();

    const RunResult r = run({"-i", in.string(), "-o", out.string(), "--block", "64"});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(read_file(out), previous);
    EXPECT_EQ(listing(), before);
}

struct FailureCase {
    std::string name;
    std::vector<std::string> args; // "@" stands for the output path, "%" for the test directory
    std::vector<std::string> mentions;
};

class RenderCliFailure : public RenderCli, public ::testing::WithParamInterface<FailureCase> {
protected:
    RunResult run_case(const fs::path& output) {
        std::vector<std::string> args;
        for (const std::string& a : GetParam().args) {
            if (a == "@") {
                args.push_back(output.string());
            } else if (a.starts_with("%")) {
                args.push_back((dir_ / a.substr(1)).string());
            } else {
                args.push_back(a);
            }
        }
        return run(args);
    }
    void expect_one_line_naming_the_problem(const RunResult& r) {
        EXPECT_NE(r.exit_code, 0);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string& word : GetParam().mentions) {
            EXPECT_NE(r.err.find(word), std::string::npos) << "'" << word << "' missing from: " << r.err;
        }
        EXPECT_EQ(r.out, "");
    }
};

TEST_P(RenderCliFailure, WritesNothing) {
    const fs::path output = dir_ / "out.wav";
    const auto before = listing();
    const RunResult r = run_case(output);
    expect_one_line_naming_the_problem(r);
    EXPECT_EQ(listing(), before);
}

TEST_P(RenderCliFailure, LeavesAnExistingOutputUntouched) {
    const fs::path output = dir_ / "out.wav";
    const std::string previous = "previous render, not to be lost\n";
    std::ofstream(output, std::ios::binary) << previous;
    const auto before = listing();
    const RunResult r = run_case(output);
    expect_one_line_naming_the_problem(r);
    EXPECT_EQ(read_file(output), previous);
    EXPECT_EQ(listing(), before);
}

INSTANTIATE_TEST_SUITE_P(
    RenderCli, RenderCliFailure,
    ::testing::Values(
        FailureCase{"RejectedText", {"--set", "mix=banana", "-o", "@"}, {"'mix'", "'banana'"}},
        FailureCase{"UnknownId", {"--set", "volume=3", "-o", "@"}, {"unknown parameter", "'volume'"}},
        FailureCase{"LaterSettingRejected", {"--set", "mix=75%", "--set", "char_mode=fold", "-o", "@"},
                    {"'char_mode'", "'fold'"}},
        FailureCase{"NormalisedOutOfRange", {"--set-normalised", "mix=1.5", "-o", "@"}, {"'mix'", "0 and 1"}},
        FailureCase{"NormalisedNotANumber", {"--set-normalised", "mix=half", "-o", "@"}, {"'mix'", "'half'"}},
        FailureCase{"MissingInput", {"-i", "%missing.wav", "-o", "@"}, {"cannot read", "missing.wav"}},
        FailureCase{"InputNotAudio", {"-i", "%out.wav", "-o", "%other.wav"}, {"cannot read", "out.wav"}},
        FailureCase{"OutputDirectoryMissing", {"-o", "%no/such/dir/x.wav"}, {"cannot write", "x.wav"}},
        FailureCase{"OutputIsADirectory", {"-o", "%"}, {"cannot write", "directory"}},
        FailureCase{"BadOption", {"--block", "0", "-o", "@"}, {"--block"}}),
    [](const auto& test_info) { return test_info.param.name; });

} // namespace
} // namespace tessellgrove::render
