#pragma once
// tessellgrove-render's host around a plug-in library loaded from disk and
// driven through CLAP or VST3 by the in-repo host (plugin_kit/host).
//
// Parameter texts go through the format's own calls (CLAP value_to_text /
// text_to_value, VST3 getParamStringByValue / getParamValueByString). When
// the loaded plug-in is Tessellgrove (its parameter ids are the hashes of
// Tessellgrove's text ids), parameters are named by those text ids and their
// kinds, variants and normalised mapping come from Tessellgrove's own
// parameter descriptors; any other plug-in's parameters are named by their
// numeric ids, and CLAP normalised values map linearly onto the range the
// plug-in reports.

#include "plugin_kit/host/hosted_plugin.hpp"
#include "tools/render/render_host.hpp"

#include <memory>
#include <string>

namespace tessellgrove::render {

// A host for the plug-in at `path` in `format` (the first plug-in class the
// library offers); nullptr with `error` filled when it cannot be loaded.
std::unique_ptr<RenderHost> make_loaded_host(const std::string& path, plugin_kit::host::PluginFormat format,
                                             std::string& error);

// A saved state in either host framing (the VST3 form: the JSON text; the
// CLAP form: an 8-byte little-endian length, then the text), as the JSON
// text. The CLAP form is recognised by a prefix that announces exactly the
// bytes that follow.
std::string state_text(std::string_view bytes);

// `text` in the framing of `format`.
std::string frame_state(std::string_view text, plugin_kit::host::PluginFormat format);

} // namespace tessellgrove::render
