// Fuzzes the preset reader with arbitrary bytes. Besides not crashing, a
// text that reads successfully must survive a write/read round trip
// unchanged, and its normalised values must be computable.
#include "plugin/presets/tessellgrove_preset.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto read = tessellgrove::TessellgrovePreset::from_json(text);
    if (!read.has_value()) {
        if (read.error().message().empty()) {
            std::abort(); // every failure carries a message
        }
        return 0;
    }
    const auto again = tessellgrove::TessellgrovePreset::from_json(read->to_json());
    if (!again.has_value() || !(*again == *read)) {
        std::abort();
    }
    const auto values = read->to_param_values();
    (void)values;
    return 0;
}
