// Fuzzes the host-state loader with arbitrary bytes, as a CLAP host would
// hand them over (8-byte length prefix, delivered in uneven pieces).
//
// Besides not crashing, leaking or hanging:
// - a text that fails to parse must leave every parameter as it was;
// - a text that loads must leave only finite parameter values, and the state
//   written afterwards must load again and write back byte for byte.
#include "plugin/params/tessellgrove_params.hpp"
#include "plugin_kit/state/framing.hpp"
#include "plugin_kit/state/state.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool all_values_finite(tessellgrove::TessellgroveParams& params) {
    for (const auto& entry : params.param_map()) {
        if (!std::isfinite(entry.param->normalized_value())) {
            return false;
        }
    }
    if (!std::isfinite(params.input_gain.value()) || !std::isfinite(params.mix.value())) {
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the piece size the stream delivers (1..64 bytes).
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = (data[0] % 64u) + 1u;
    const std::uint8_t* stream = data + 1;
    const std::size_t stream_size = size - 1;
    std::size_t position = 0;
    auto read = [&](void* out, std::uint64_t wanted) -> std::int64_t {
        const std::size_t n = std::min<std::size_t>({static_cast<std::size_t>(wanted), piece,
                                                     stream_size - position});
        std::memcpy(out, stream + position, n);
        position += n;
        return static_cast<std::int64_t>(n);
    };

    tessellgrove::TessellgroveParams params;
    const std::string before = plugin_kit::write_state_json(params, "0.1.0");

    const auto text = plugin_kit::read_framed(read);
    if (!text) {
        require(plugin_kit::write_state_json(params, "0.1.0") == before);
        return 0;
    }
    const auto parsed = plugin_kit::parse_state_json(*text);
    if (!parsed.state) {
        require(!parsed.error.empty());
        require(plugin_kit::write_state_json(params, "0.1.0") == before);
        return 0;
    }
    plugin_kit::apply_state(params, *parsed.state);
    require(all_values_finite(params));

    const std::string saved = plugin_kit::write_state_json(params, "0.1.0");
    tessellgrove::TessellgroveParams reloaded;
    const auto again = plugin_kit::parse_state_json(saved);
    require(again.state.has_value());
    plugin_kit::apply_state(reloaded, *again.state);
    require(plugin_kit::write_state_json(reloaded, "0.1.0") == saved);
    return 0;
}
