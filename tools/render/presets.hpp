#pragma once
// Presets and the editor page in tessellgrove-render: the same preset
// library the plug-in's preset worker uses, applied through the host
// interface as normalised values.

#include "tools/render/render_host.hpp"

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace tessellgrove::render {

// Why a preset could not be applied; `exit_code` is one of render.hpp's.
struct PresetFailure {
    int exit_code;
    std::string message;
};

// Applies the preset called `name`: the factory preset of exactly that name,
// else the user preset whose file stem is `name` (the first readable one in
// list order). Every parameter of the record is set as a normalised value.
std::optional<PresetFailure> apply_preset(std::string_view name, RenderHost& host);

// Every preset in the library's order (sorted by name regardless of case),
// one per line: "factory" or "user   ", two blanks, the name (a user
// preset's file stem). With `json`, [{"name":...,"is_factory":...},...].
void print_preset_list(std::ostream& out, bool json);

// The editor page exactly as the editor assembles it when opened.
void print_editor_page(std::ostream& out);

} // namespace tessellgrove::render
