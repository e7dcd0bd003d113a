#include "tools/render/options.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tessellgrove::render {
namespace {

// A whole argument read as a finite decimal number.
std::optional<double> parse_number(std::string_view text) {
    double value = 0.0;
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<ParamSetting> parse_setting(ParamSetting::Kind kind, std::string_view text) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return std::nullopt;
    }
    return ParamSetting{kind, std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))};
}

} // namespace

ParsedOptions parse_options(std::span<const std::string_view> args) {
    RenderOptions options;
    const auto fail = [](std::string message) { return ParsedOptions{std::nullopt, std::move(message)}; };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> attached; // value given as --name=value
        if (arg.starts_with("--")) {
            if (const auto equals = arg.find('='); equals != std::string_view::npos) {
                attached = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            }
        }
        // The option's value: attached, or the next argument.
        const auto take_value = [&]() -> std::optional<std::string_view> {
            if (attached) {
                return attached;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        const auto flag = [&](bool& target) -> bool {
            if (attached) {
                return false;
            }
            target = true;
            return true;
        };

        if (arg == "-h" || arg == "--help") {
            if (!flag(options.help)) {
                return fail("option --help takes no value");
            }
        } else if (arg == "--list-params") {
            if (!flag(options.list_params)) {
                return fail("option --list-params takes no value");
            }
        } else if (arg == "--list-presets") {
            if (!flag(options.list_presets)) {
                return fail("option --list-presets takes no value");
            }
        } else if (arg == "--print-editor-page") {
            if (!flag(options.print_editor_page)) {
                return fail("option --print-editor-page takes no value");
            }
        } else if (arg == "--format") {
            const auto value = take_value();
            if (!value || (*value != "clap" && *value != "vst3")) {
                return fail("option --format needs clap or vst3");
            }
            options.format = std::string(*value);
        } else if (arg == "--plugin" || arg == "--state" || arg == "--save-state") {
            const auto value = take_value();
            if (!value || value->empty()) {
                return fail("option " + std::string(arg) + " needs a file name");
            }
            auto& target = arg == "--plugin" ? options.plugin : arg == "--state" ? options.state : options.save_state;
            target = std::string(*value);
        } else if (arg == "--preset") {
            const auto value = take_value();
            if (!value || value->empty()) {
                return fail("option --preset needs a preset name");
            }
            options.preset = std::string(*value);
        } else if (arg == "--json") {
            if (!flag(options.json)) {
                return fail("option --json takes no value");
            }
        } else if (arg == "--playing") {
            if (!flag(options.playing)) {
                return fail("option --playing takes no value");
            }
        } else if (arg == "-i" || arg == "--input" || arg == "-o" || arg == "--output") {
            const auto value = take_value();
            if (!value || value->empty()) {
                return fail("option " + std::string(arg) + " needs a file name");
            }
            if (arg == "-o" || arg == "--output") {
                options.output = std::string(*value);
            } else {
                options.input = std::string(*value);
            }
        } else if (arg == "--set" || arg == "--set-normalised") {
            const auto kind = arg == "--set" ? ParamSetting::Kind::Text : ParamSetting::Kind::Normalised;
            const auto value = take_value();
            const auto setting = value ? parse_setting(kind, *value) : std::nullopt;
            if (!setting) {
                return fail("option " + std::string(arg) + " needs id=VALUE");
            }
            options.settings.push_back(*setting);
        } else if (arg == "--block") {
            const auto value = take_value();
            const auto number = value ? parse_number(*value) : std::nullopt;
            if (!number || *number < 1.0 || *number > max_block_size || std::trunc(*number) != *number) {
                return fail("option --block needs a whole number of frames from 1 to " +
                            std::to_string(max_block_size));
            }
            options.block_size = static_cast<uint32_t>(*number);
        } else if (arg == "--bpm") {
            const auto value = take_value();
            const auto number = value ? parse_number(*value) : std::nullopt;
            if (!number || *number <= 0.0 || *number > 1000.0) {
                return fail("option --bpm needs a tempo above 0 and at most 1000");
            }
            options.bpm = *number;
        } else if (arg == "--sample-rate") {
            const auto value = take_value();
            const auto number = value ? parse_number(*value) : std::nullopt;
            if (!number || *number < 8000.0 || *number > 768000.0 || std::trunc(*number) != *number) {
                return fail("option --sample-rate needs a whole number of Hz from 8000 to 768000");
            }
            options.sample_rate = static_cast<float>(*number);
        } else {
            return fail("unknown argument '" + std::string(args[i]) + "' (see --help)");
        }
    }

    const int listings = int{options.list_params} + int{options.list_presets} + int{options.print_editor_page};
    if (listings > 1) {
        return fail("options --list-params, --list-presets and --print-editor-page exclude each other");
    }
    if (options.json && !options.list_params && !options.list_presets && !options.help) {
        return fail("option --json goes with --list-params or --list-presets");
    }
    if (options.help || listings > 0) {
        return ParsedOptions{options, {}};
    }
    if (options.output.empty()) {
        return fail("no output file given (-o OUTPUT)");
    }
    if (options.input && options.sample_rate) {
        return fail("option --sample-rate applies only to the built-in signal; the input file sets the rate");
    }
    return ParsedOptions{options, {}};
}

std::string usage_text() {
    return R"(Usage: tessellgrove-render [options] [-i INPUT] -o OUTPUT
       tessellgrove-render --list-params [--json]
       tessellgrove-render --list-presets [--json]
       tessellgrove-render --print-editor-page

Runs audio through the Tessellgrove ring modulator, block by block, as a host
would. INPUT may be WAV, FLAC, AIFF or OGG; the output is written in the same
format (a mono input becomes stereo). Without -i, a 4-second stereo test signal
(plucked arpeggio with noise bursts) is rendered and written as 32-bit float WAV.
The output appears only when the whole render succeeded.

Options:
  -i, --input FILE          audio file to process
  -o, --output FILE         file to write
  --format clap|vst3        plug-in format to host the plug-in through
                            (default clap)
  --plugin FILE             plug-in library to host (default: the Tessellgrove
                            library built alongside this program); a foreign
                            plug-in's parameters are named by numeric id
  --state FILE              load a saved host state first (the JSON text as
                            VST3 stores it, or CLAP's length-prefixed form)
  --save-state FILE         write the state the plug-in saves at the end of
                            the render, in the format's framing
  --preset NAME             start from a preset: the factory preset of exactly
                            this name, else the user preset with this file
                            name (without .tessellgrove); --set options
                            apply on top of it
  --set ID=TEXT             set a parameter from text, as typed into a host
                            (mix=75%, lock_freq=440 Hz, char_mode=Fold,
                            lock_motion_enable=on); repeatable, applied in order
  --set-normalised ID=V     set a parameter's normalised value, 0 to 1
  --block N                 frames per process call (default 512)
  --bpm BPM                 host tempo reported to the plug-in (default: none,
                            the plug-in then assumes 120)
  --playing                 report the host transport as running
  --sample-rate HZ          rate of the built-in signal (default 44100)
  --list-params             list the parameters: id, name, range, default
  --list-presets            list the factory and user presets
  --json                    with --list-params or --list-presets: print JSON
  --print-editor-page       print the editor's web page as the editor shows it
  -h, --help                show this text
)";
}

} // namespace tessellgrove::render
