#pragma once
// How tessellgrove-render hosts the plug-in. The renderer speaks only to
// this interface, the way a host speaks to a loaded plug-in: parameter
// information and texts, activation, in-place processing, state. The program
// hosts a plug-in file through CLAP or VST3 (loaded_host.hpp); the host that
// links the instance in directly remains for tests of the renderer's pieces.

#include "plugin_kit/plugin/plugin.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessellgrove::render {

// What a host learns about one parameter.
struct ParamInfo {
    std::string id;
    std::string name;
    std::string kind;                  // "float", "int", "bool" or "enum"
    std::string unit;                  // with its leading blank; may be empty
    double min = 0.0;                  // plain range (indices for enumerations, 0..1 for switches)
    double max = 1.0;
    double default_value = 0.0;        // plain default
    double default_normalised = 0.0;
    std::string min_text;              // display texts (with unit) at normalised 0 and 1
    std::string max_text;
    std::string default_text;          // display text of the default, with unit
    uint32_t step_count = 0;           // 0 for continuous parameters
    std::vector<std::string> variants; // enumerations only
};

class RenderHost {
public:
    virtual ~RenderHost() = default;

    // Every parameter, in the plug-in's order.
    virtual std::vector<ParamInfo> param_infos() const = 0;
    // Sets a parameter from typed text through the parameter's own parser.
    // Returns a one-line message when the id is unknown or the text rejected.
    virtual std::optional<std::string> set_param_text(std::string_view id, std::string_view text) = 0;
    // Sets a normalised value; the message names an unknown id or a value
    // outside 0..1.
    virtual std::optional<std::string> set_param_normalised(std::string_view id, double normalised) = 0;
    // Display text (with unit) of a parameter's current value.
    virtual std::optional<std::string> param_text(std::string_view id) const = 0;

    // Activation and the start of processing (the plug-in's reset).
    virtual void activate(float sample_rate, uint32_t max_block_size) = 0;
    // One block of non-interleaved audio, processed in place.
    virtual void process(std::span<float* const> channels, uint32_t frames,
                         const plugin_kit::Transport& transport) = 0;
    virtual void deactivate() = 0;

    // The state the plug-in saves, in the framing of the format in use;
    // nullopt when the host cannot save one or the plug-in refuses.
    virtual std::optional<std::string> save_state() { return std::nullopt; }
    // Hands a saved state (either host framing) to the plug-in in the framing
    // of the format in use; false when the plug-in refuses it.
    virtual bool load_state(std::string_view bytes) {
        (void)bytes;
        return false;
    }
};

// A host around a Tessellgrove instance linked into this program, driven
// through the `plugin_kit::Plugin` contract only.
std::unique_ptr<RenderHost> make_linked_host();

} // namespace tessellgrove::render
