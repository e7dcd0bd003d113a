#pragma once
// Host state files of tessellgrove-render: --state loads one into the
// plug-in, --save-state writes the one it saves.

#include "tools/render/render_host.hpp"

#include <optional>
#include <string>

namespace tessellgrove::render {

// Reads `path` and hands its bytes to the plug-in; a one-line message when
// the file cannot be read or the plug-in refuses the state.
std::optional<std::string> load_state_file(const std::string& path, RenderHost& host);

// Writes the plug-in's saved state to `path` (replacing it whole); a
// one-line message when the plug-in saves none or the file cannot be written.
std::optional<std::string> save_state_file(const std::string& path, RenderHost& host);

} // namespace tessellgrove::render
