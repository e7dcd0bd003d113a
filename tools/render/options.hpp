#pragma once
// Command line of tessellgrove-render.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessellgrove::render {

// One `--set id=TEXT` or `--set-normalised id=V`, kept in command-line order.
struct ParamSetting {
    enum class Kind { Text, Normalised };
    Kind kind = Kind::Text;
    std::string id;
    std::string value; // the text after the first '='
};

struct RenderOptions {
    std::optional<std::string> input;      // absent: the built-in test signal
    std::string output;                    // required unless listing or help
    std::optional<std::string> preset;     // applied before `settings`
    std::vector<ParamSetting> settings;
    uint32_t block_size = 512;             // frames per process call
    std::optional<double> bpm;             // tempo reported to the plug-in, if any
    bool playing = false;                  // host transport running
    std::optional<float> sample_rate;      // Hz, built-in signal only
    bool list_params = false;
    bool list_presets = false;
    bool json = false;                     // --list-params / --list-presets as JSON
    bool print_editor_page = false;
    std::string format = "clap";           // plug-in format hosted: "clap" or "vst3"
    std::optional<std::string> plugin;     // plug-in file; absent: the built Tessellgrove library
    std::optional<std::string> state;      // host state file loaded before preset and settings
    std::optional<std::string> save_state; // where to write the plug-in's state after the render
    bool help = false;
};

// Largest accepted --block.
inline constexpr uint32_t max_block_size = 1u << 20;

// Parsed options, or a one-line message naming the offending argument.
struct ParsedOptions {
    std::optional<RenderOptions> options;
    std::string error;
};

// Parses the arguments after the program name. Long options take their
// value as the next argument or after '=' (`--block=256`).
ParsedOptions parse_options(std::span<const std::string_view> args);

// The --help text.
std::string usage_text();

} // namespace tessellgrove::render
