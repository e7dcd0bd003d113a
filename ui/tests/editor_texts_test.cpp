#include "ui/editor_texts.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

using tessellgrove::ui::bridge_script;
using tessellgrove::ui::editor_page_html;

std::string read_source(const std::string& relative) {
    std::ifstream in(std::string(TESSELLGROVE_UI_SOURCE_DIR) + "/" + relative, std::ios::binary);
    EXPECT_TRUE(in) << relative;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t count(std::string_view text, std::string_view needle) {
    std::size_t n = 0;
    for (auto pos = text.find(needle); pos != std::string_view::npos; pos = text.find(needle, pos + 1)) ++n;
    return n;
}

std::string decode_base64(std::string_view text) {
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else break;
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFFu);
        }
    }
    return out;
}

// The data URL's payload, from after "<prefix>" to the closing quote.
std::string data_url_payload(std::string_view page, std::string_view prefix) {
    const auto start = page.find(prefix);
    if (start == std::string_view::npos) return {};
    const auto from = start + prefix.size();
    return decode_base64(page.substr(from, page.find('"', from) - from));
}

TEST(UiTexts, BridgeScriptIsTheSourceFileByteForByte) {
    const std::string source = read_source("bridge/bridge.js");
    EXPECT_EQ(bridge_script(), source);
    ASSERT_GE(bridge_script().size(), 2u);
    EXPECT_EQ(bridge_script().front(), '\n');
    EXPECT_EQ(bridge_script().back(), '\n');
    EXPECT_EQ(bridge_script().find("</script"), std::string_view::npos);
}

// The editor inserts the bridge before "</head>", so the page must hold it
// once; the page shell and "<body>" path must never be taken for this page.
TEST(UiTexts, PageHasOneHeadEndAndOneBodyStart) {
    const std::string_view page = editor_page_html();
    EXPECT_EQ(count(page, "</head>"), 1u);
    EXPECT_EQ(count(page, "<body>"), 1u);
    EXPECT_LT(page.find("</head>"), page.find("<body>"));
    EXPECT_NE(page.find("<title>Tessellgrove</title>"), std::string_view::npos);
}

TEST(UiTexts, PageIsSelfContained) {
    const std::string_view page = editor_page_html();
    for (std::string_view outside : {"http:", "https:", "href=", "<link", "<script src", "src=\"../", "url(\"../"}) {
        EXPECT_EQ(page.find(outside), std::string_view::npos) << outside;
    }
    // The inlined sources appear whole.
    for (const char* file : {"page/editor.js", "page/style.css"}) {
        const std::string text = read_source(file);
        const auto cut = text.find("url(\"../");   // the style sheet's font reference is rewritten
        EXPECT_NE(page.find(text.substr(0, cut == std::string::npos ? text.size() : cut)), std::string_view::npos) << file;
    }
}

TEST(UiTexts, EmbeddedFontAndImageDecodeToTheCommittedFiles) {
    const std::string_view page = editor_page_html();
    EXPECT_EQ(data_url_payload(page, "url(\"data:font/woff2;base64,"),
              read_source("fonts/londrina-solid-latin-300-normal.woff2"));
    EXPECT_EQ(data_url_payload(page, "src=\"data:image/webp;base64,"), read_source("assets/paper.webp"));
}

}  // namespace
