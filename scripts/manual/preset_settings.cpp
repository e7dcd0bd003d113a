// preset-settings: prints the settings of every factory preset as JSON, for
// the user manual. Each preset is applied to a fresh linked instance through
// the same code tessellgrove-render --preset uses, and every parameter's
// display text is then read back from the instance, so the manual shows
// exactly what a host shows after loading the preset.
//
// Output: {"presets": [{"index": 1, "name": "Init", "params": [{"id": ...,
// "text": ..., "normalised": ...}, ...]}, ...], "example_file": TEXT}, presets
// in factory list order, parameters in the plug-in's order; the example is
// the file text a user preset named "My Preset" with default settings gets.

#include "plugin/presets/factory_presets.hpp"
#include "tools/render/presets.hpp"
#include "tools/render/render_host.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

int main() {
    using tessellgrove::FACTORY_PRESETS;
    namespace render = tessellgrove::render;
    try {
        nlohmann::ordered_json presets = nlohmann::ordered_json::array();
        int index = 0;
        for (const tessellgrove::TessellgrovePreset& record : FACTORY_PRESETS) {
            ++index;
            const auto host = render::make_linked_host();
            if (const auto failure = render::apply_preset(record.name, *host)) {
                std::cerr << "preset-settings: " << failure->message << '\n';
                return 1;
            }
            // The normalised values the preset sets, by id; the record is
            // the same one apply_preset found (factory names come first).
            nlohmann::ordered_json params = nlohmann::ordered_json::array();
            const auto values = record.to_param_values();
            for (const render::ParamInfo& info : host->param_infos()) {
                const auto text = host->param_text(info.id);
                if (!text) {
                    std::cerr << "preset-settings: no text for parameter '" << info.id << "'\n";
                    return 1;
                }
                double normalised = -1.0;
                for (const auto& [id, value] : values) {
                    if (id == info.id) {
                        normalised = static_cast<double>(value);
                    }
                }
                if (normalised < 0.0) {
                    std::cerr << "preset-settings: preset record has no field '" << info.id << "'\n";
                    return 1;
                }
                params.push_back({{"id", info.id}, {"text", *text}, {"normalised", normalised}});
            }
            presets.push_back({{"index", index}, {"name", record.name}, {"params", std::move(params)}});
        }
        tessellgrove::TessellgrovePreset example;
        example.name = "My Preset";
        const nlohmann::ordered_json out = {{"presets", std::move(presets)}, {"example_file", example.to_json()}};
        std::cout << out.dump(2) << '\n';
        return std::cout.flush() ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "preset-settings: " << e.what() << '\n';
        return 1;
    }
}
