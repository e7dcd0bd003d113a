#include "tools/render/presets.hpp"

#include "plugin/presets/factory_presets.hpp"
#include "plugin/presets/preset_library.hpp"
#include "plugin/presets/preset_worker.hpp"
#include "tools/render/render.hpp"
#include "ui/editor_texts.hpp"
#include "webview/editor/web_view_editor.hpp"

#include <ostream>

namespace tessellgrove::render {
namespace {

std::optional<PresetFailure> apply_record(const TessellgrovePreset& record, RenderHost& host) {
    for (const auto& [id, normalised] : record.to_param_values()) {
        if (const auto error = host.set_param_normalised(id, static_cast<double>(normalised))) {
            return PresetFailure{exit_failure, "preset '" + record.name + "': " + *error};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<PresetFailure> apply_preset(std::string_view name, RenderHost& host) {
    if (const TessellgrovePreset* factory = FACTORY_PRESETS.find(name)) {
        return apply_record(*factory, host);
    }
    // User files by stem, as the plug-in loads them; a file that exists but
    // cannot be read is reported rather than skipped, so a typo in a preset
    // file does not silently render with other settings.
    std::optional<std::string> last_error;
    for (const PresetEntry& entry : list_all_presets()) {
        if (entry.is_factory() || entry.name != name) {
            continue;
        }
        auto loaded = load_preset(entry.path);
        if (loaded) {
            return apply_record(loaded.value(), host);
        }
        last_error = "cannot load preset '" + std::string(name) + "' from '" + entry.path.string() +
                     "': " + loaded.error().to_string();
    }
    if (last_error) {
        return PresetFailure{exit_failure, *last_error};
    }
    return PresetFailure{exit_usage, "no preset named '" + std::string(name) + "' (see --list-presets)"};
}

void print_preset_list(std::ostream& out, bool json) {
    const std::vector<PresetEntry> entries = list_all_presets();
    if (json) {
        out << presets_list_payload(entries) << '\n';
        return;
    }
    for (const PresetEntry& entry : entries) {
        out << (entry.is_factory() ? "factory" : "user   ") << "  " << entry.name << '\n';
    }
}

void print_editor_page(std::ostream& out) {
    out << webview::assemble_editor_page(ui::editor_page_html(), ui::bridge_script());
}

} // namespace tessellgrove::render
