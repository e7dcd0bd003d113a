#include "plugin/presets/preset_worker.hpp"

#include "plugin/presets/factory_presets.hpp"
#include "webview/state/web_view_state.hpp"

#include <pthread.h>

#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace tessellgrove {
namespace {

void answer(webview::WebViewState& state, std::string_view action, std::string payload) {
    state.push_custom(std::string(action), std::move(payload));
}

void handle(const PresetCommand::List&, webview::WebViewState& state) {
    answer(state, "presets_list", presets_list_payload(list_all_presets()));
}

void handle(const PresetCommand::Load& load, webview::WebViewState& state) {
    std::optional<TessellgrovePreset> record;
    if (load.is_factory) {
        if (const TessellgrovePreset* found = FACTORY_PRESETS.find(load.name)) {
            record = *found;
        }
    } else {
        // Every user file with that stem, in list order; unreadable or
        // broken files are passed over silently.
        for (const PresetEntry& entry : list_all_presets()) {
            if (entry.is_factory() || entry.name != load.name) {
                continue;
            }
            if (auto loaded = load_preset(entry.path)) {
                record = std::move(loaded).value();
                break;
            }
        }
    }
    if (!record) {
        answer(state, "preset_error", "Preset '" + load.name + "' not found");
        return;
    }
    answer(state, "preset_values", preset_values_payload(record->to_param_values()));
    state.set_current_preset_name(load.name);
    answer(state, "preset_loaded", load.name);
}

void handle(const PresetCommand::Save& save, webview::WebViewState& state) {
    const auto saved = save_preset(save.preset);
    if (saved) {
        answer(state, "preset_saved", save.name);
    } else {
        answer(state, "preset_error", saved.error().to_string());
    }
}

void handle(const PresetCommand::Delete& del, webview::WebViewState& state) {
    std::optional<std::filesystem::path> path;
    for (const PresetEntry& entry : list_all_presets()) {
        if (!entry.is_factory() && entry.name == del.name) {
            path = entry.path;
            break;
        }
    }
    if (!path) {
        answer(state, "preset_error", "Preset '" + del.name + "' not found or is a factory preset");
        return;
    }
    if (const auto error = remove_preset_file(*path)) {
        answer(state, "preset_error", error->to_string());
        return;
    }
    answer(state, "preset_deleted", del.name);
}

} // namespace

std::string presets_list_payload(const std::vector<PresetEntry>& entries) {
    std::string out = "[";
    for (const PresetEntry& entry : entries) {
        if (out.size() > 1) {
            out += ',';
        }
        out += "{\"name\":";
        out += quote_json_string(entry.name);
        out += ",\"is_factory\":";
        out += entry.is_factory() ? "true" : "false";
        out += '}';
    }
    out += ']';
    return out;
}

std::string preset_values_payload(const PresetParamValues& values) {
    // Numbers as in preset files (format_preset_float), so written by hand.
    std::string out = "[";
    for (const auto& [id, value] : values) {
        if (out.size() > 1) {
            out += ',';
        }
        out += '[';
        out += quote_json_string(id);
        out += ',';
        out += format_preset_float(value);
        out += ']';
    }
    out += ']';
    return out;
}

void handle_preset_command(PresetCommand command, webview::WebViewState& state) noexcept {
    try {
        std::visit([&](const auto& request) { handle(request, state); }, command.request);
    } catch (const std::exception& ex) {
        // Out of memory or similar: answer and keep serving.
        try {
            answer(state, "preset_error", ex.what());
        } catch (...) {
        }
    } catch (...) {
    }
}

void preset_worker(PresetCommandReceiver receiver, std::shared_ptr<webview::WebViewState> state) noexcept {
    for (;;) {
        std::optional<PresetCommand> command;
        try {
            command = receiver.recv();
        } catch (...) {
            command.reset();
        }
        if (!command) {
            break;
        }
        if (state) {
            handle_preset_command(std::move(*command), *state);
        }
    }
}

std::thread spawn_preset_worker(PresetCommandReceiver receiver, std::shared_ptr<webview::WebViewState> state) {
    std::thread thread([receiver = std::move(receiver), state = std::move(state)]() mutable {
        preset_worker(std::move(receiver), std::move(state));
    });
    // Named from here so the name is in place when this returns. Linux keeps
    // at most 15 bytes of a thread name; a refused name is harmless.
    const std::string name(preset_worker_thread_name.substr(0, 15));
    ::pthread_setname_np(thread.native_handle(), name.c_str());
    return thread;
}

} // namespace tessellgrove
