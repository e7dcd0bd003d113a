// tessellgrove-render: runs audio files (or a built-in test signal) through
// the Tessellgrove effect from the command line. See usage_text().

#include "tools/render/loaded_host.hpp"
#include "tools/render/options.hpp"
#include "tools/render/presets.hpp"
#include "tools/render/render.hpp"

#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    using namespace tessellgrove::render;
    try {
        const std::vector<std::string_view> args(argv + 1, argv + argc);
        const ParsedOptions parsed = parse_options(args);
        if (!parsed.options) {
            std::cerr << "tessellgrove-render: " << parsed.error << '\n';
            return exit_usage;
        }
        const RenderOptions& options = *parsed.options;
        if (options.help) {
            std::cout << usage_text();
            return exit_ok;
        }
        if (options.list_presets) {
            print_preset_list(std::cout, options.json);
            return std::cout.flush() ? exit_ok : exit_failure;
        }
        if (options.print_editor_page) {
            print_editor_page(std::cout);
            return std::cout.flush() ? exit_ok : exit_failure;
        }
        std::string load_error;
        const auto host = make_loaded_host(options.plugin.value_or(TESSELLGROVE_PLUGIN_LIBRARY),
                                           options.format == "vst3" ? plugin_kit::host::PluginFormat::Vst3
                                                                    : plugin_kit::host::PluginFormat::Clap,
                                           load_error);
        if (!host) {
            std::cerr << "tessellgrove-render: " << load_error << '\n';
            return exit_failure;
        }
        if (options.list_params) {
            const auto params = host->param_infos();
            if (options.json) {
                print_param_json(params, std::cout);
            } else {
                print_param_table(params, std::cout);
            }
            return std::cout.flush() ? exit_ok : exit_failure;
        }
        return render(options, *host, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "tessellgrove-render: " << e.what() << '\n';
        return exit_failure;
    }
}
