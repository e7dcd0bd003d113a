#pragma once
// The editor's web page and bridge script, carried in the library as constant
// texts. Both are generated at build time from the sources under ui/page and
// ui/bridge; the texts live for the whole program.
#include <string_view>

namespace tessellgrove::ui {

/// The editor page: one self-contained HTML document (style sheet, script,
/// font and image inlined), holding "</head>" and "<body>" exactly once.
std::string_view editor_page_html() noexcept;

/// The bridge script, byte for byte as in ui/bridge/bridge.js; it begins and
/// ends with a line feed and holds no "</script".
std::string_view bridge_script() noexcept;

}  // namespace tessellgrove::ui
