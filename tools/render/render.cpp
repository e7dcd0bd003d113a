#include "tools/render/render.hpp"

#include "tools/render/audio_file.hpp"
#include "tools/render/presets.hpp"
#include "tools/render/state_file.hpp"
#include "tools/render/test_signal.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <unistd.h>

namespace tessellgrove::render {
namespace {

constexpr float default_sample_rate = 44100.0f;
// Files at least this long get a progress bar on a terminal.
constexpr double progress_min_seconds = 20.0;

void report(std::ostream& err, const std::string& message) { err << "tessellgrove-render: " << message << '\n'; }

// Where the audio comes from: a file, or the built-in signal in memory.
class Source {
public:
    explicit Source(AudioReader reader) : reader_(std::move(reader)), format_(reader_->format()) {}
    explicit Source(float sample_rate) : signal_(make_test_signal(sample_rate)), generated_rate_(sample_rate) {
        format_ = AudioFormat{float_wav_format(), 2, static_cast<int>(std::lround(sample_rate)),
                              static_cast<int64_t>(signal_.left.size())};
    }

    const AudioFormat& format() const noexcept { return format_; }
    float sample_rate() const noexcept {
        return reader_ ? static_cast<float>(format_.sample_rate) : generated_rate_;
    }

    // Fills whole interleaved frames; returns the count, 0 at the end, or
    // nothing on a read error.
    std::optional<int64_t> read(std::span<float> interleaved) {
        if (reader_) {
            return reader_->read(interleaved);
        }
        const std::size_t frames = std::min(interleaved.size() / 2, signal_.left.size() - position_);
        for (std::size_t i = 0; i < frames; ++i) {
            interleaved[2 * i] = signal_.left[position_ + i];
            interleaved[2 * i + 1] = signal_.right[position_ + i];
        }
        position_ += frames;
        return static_cast<int64_t>(frames);
    }
    std::string last_error() const { return reader_ ? reader_->last_error() : std::string(); }

private:
    std::optional<AudioReader> reader_;
    StereoSignal signal_;
    std::size_t position_ = 0;
    AudioFormat format_;
    float generated_rate_ = default_sample_rate;
};

// A one-line bar on stderr, redrawn only when the whole percentage moves.
class ProgressBar {
public:
    ProgressBar(int64_t total_frames, bool enabled) : total_(total_frames), enabled_(enabled && total_frames > 0) {}
    ~ProgressBar() { finish(); }

    void update(int64_t done) {
        if (!enabled_) {
            return;
        }
        const int percent = static_cast<int>(std::min<int64_t>(100, done * 100 / total_));
        if (percent == shown_) {
            return;
        }
        shown_ = percent;
        constexpr int width = 40;
        const int filled = percent * width / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(width - filled), ' ').c_str(), percent);
        std::fflush(stderr);
    }
    void finish() {
        if (enabled_ && shown_ >= 0) {
            std::fputc('\n', stderr);
        }
        enabled_ = false;
    }

private:
    int64_t total_;
    bool enabled_;
    int shown_ = -1;
};

std::optional<std::string> apply_setting(const ParamSetting& setting, RenderHost& host) {
    if (setting.kind == ParamSetting::Kind::Text) {
        return host.set_param_text(setting.id, setting.value);
    }
    double value = 0.0;
    const char* const end = setting.value.data() + setting.value.size();
    const auto [ptr, ec] = std::from_chars(setting.value.data(), end, value);
    if (ec != std::errc() || ptr != end) {
        return "normalised value for '" + setting.id + "' is not a number: '" + setting.value + "'";
    }
    return host.set_param_normalised(setting.id, value);
}

std::string format_number(double value) {
    std::ostringstream text;
    text << std::setprecision(7) << value;
    return text.str();
}

} // namespace

int render(const RenderOptions& options, RenderHost& host, std::ostream& err) {
    if (options.state) {
        if (const auto error = load_state_file(*options.state, host)) {
            report(err, *error);
            return exit_failure;
        }
    }
    if (options.preset) {
        if (const auto failure = apply_preset(*options.preset, host)) {
            report(err, failure->message);
            return failure->exit_code;
        }
    }
    for (const ParamSetting& setting : options.settings) {
        if (const auto error = apply_setting(setting, host)) {
            report(err, *error);
            return exit_usage;
        }
    }

    std::optional<Source> source;
    if (options.input) {
        auto opened = AudioReader::open(*options.input);
        if (!opened.value) {
            report(err, opened.error);
            return exit_failure;
        }
        source.emplace(std::move(*opened.value));
    } else {
        const float rate = options.sample_rate.value_or(default_sample_rate);
        source.emplace(rate);
    }

    const AudioFormat in_format = source->format();
    const int in_channels = in_format.channels;
    // The plug-in is stereo: a mono input feeds both sides and the output is
    // stereo; channels beyond the first two pass through untouched.
    const int channels = std::max(2, in_channels);
    AudioFormat out_format = in_format;
    out_format.channels = channels;

    auto created = AudioWriter::create(options.output, out_format);
    if (!created.value) {
        report(err, created.error);
        return exit_failure;
    }
    AudioWriter& writer = *created.value;

    const uint32_t block = options.block_size;
    std::vector<float> input(static_cast<std::size_t>(block) * static_cast<std::size_t>(in_channels));
    std::vector<float> output(static_cast<std::size_t>(block) * static_cast<std::size_t>(channels));
    std::vector<std::vector<float>> planar(static_cast<std::size_t>(channels), std::vector<float>(block));
    std::vector<float*> pointers;
    for (auto& channel : planar) {
        pointers.push_back(channel.data());
    }

    const float sample_rate = source->sample_rate();
    host.activate(sample_rate, block);
    const plugin_kit::Transport transport{options.playing, options.bpm};

    const bool long_file = static_cast<double>(in_format.frames) >= progress_min_seconds * static_cast<double>(sample_rate);
    ProgressBar progress(in_format.frames, long_file && isatty(STDERR_FILENO) == 1);
    int64_t done = 0;
    for (;;) {
        const auto got = source->read(input);
        if (!got) {
            progress.finish();
            report(err, "cannot read '" + options.input.value_or("") + "': " + source->last_error());
            return exit_failure;
        }
        if (*got == 0) {
            break;
        }
        const auto frames = static_cast<std::size_t>(*got);
        const auto ch_in = static_cast<std::size_t>(in_channels);
        const auto ch_out = static_cast<std::size_t>(channels);
        for (std::size_t c = 0; c < ch_in; ++c) {
            for (std::size_t i = 0; i < frames; ++i) {
                planar[c][i] = input[i * ch_in + c];
            }
        }
        if (in_channels == 1) {
            std::copy_n(planar[0].begin(), frames, planar[1].begin());
        }
        host.process(pointers, static_cast<uint32_t>(frames), transport);
        for (std::size_t c = 0; c < ch_out; ++c) {
            for (std::size_t i = 0; i < frames; ++i) {
                output[i * ch_out + c] = planar[c][i];
            }
        }
        if (!writer.write(std::span<const float>(output.data(), frames * ch_out))) {
            progress.finish();
            report(err, "cannot write '" + options.output + "': " + writer.last_error());
            return exit_failure;
        }
        done += *got;
        progress.update(done);
    }
    progress.finish();
    host.deactivate();
    // The state as it stands after the render: a plug-in whose processor
    // learns of parameter changes only with audio has heard them by now.
    if (options.save_state) {
        if (const auto error = save_state_file(*options.save_state, host)) {
            report(err, *error);
            return exit_failure;
        }
    }

    if (const auto error = writer.commit()) {
        report(err, *error);
        return exit_failure;
    }
    return exit_ok;
}

void print_param_table(const std::vector<ParamInfo>& params, std::ostream& out) {
    struct Row {
        std::string index, id, name, range, fallback, text;
    };
    std::vector<Row> rows{{"#", "id", "name", "range", "default", "default text"}};
    for (std::size_t i = 0; i < params.size(); ++i) {
        const ParamInfo& p = params[i];
        rows.push_back({std::to_string(i + 1), p.id, p.name, p.min_text + " .. " + p.max_text,
                        format_number(p.default_value), p.default_text});
    }
    std::size_t widths[5] = {};
    for (const Row& row : rows) {
        const std::string* cells[5] = {&row.index, &row.id, &row.name, &row.range, &row.fallback};
        for (std::size_t c = 0; c < 5; ++c) {
            widths[c] = std::max(widths[c], cells[c]->size());
        }
    }
    for (const Row& row : rows) {
        out << std::right << std::setw(static_cast<int>(widths[0])) << row.index << "  " << std::left
            << std::setw(static_cast<int>(widths[1])) << row.id << "  " << std::setw(static_cast<int>(widths[2]))
            << row.name << "  " << std::setw(static_cast<int>(widths[3])) << row.range << "  "
            << std::setw(static_cast<int>(widths[4])) << row.fallback << "  " << row.text << '\n';
    }
}

void print_param_json(const std::vector<ParamInfo>& params, std::ostream& out) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < params.size(); ++i) {
        const ParamInfo& p = params[i];
        nlohmann::ordered_json entry = {
            {"index", i + 1},
            {"id", p.id},
            {"name", p.name},
            {"kind", p.kind},
            {"unit", p.unit},
            {"min", p.min},
            {"max", p.max},
            {"min_text", p.min_text},
            {"max_text", p.max_text},
            {"default", p.default_value},
            {"default_normalised", p.default_normalised},
            {"default_text", p.default_text},
            {"step_count", p.step_count},
        };
        if (p.kind == "enum") {
            entry["variants"] = p.variants;
        }
        list.push_back(std::move(entry));
    }
    out << list.dump(2) << '\n';
}

} // namespace tessellgrove::render
