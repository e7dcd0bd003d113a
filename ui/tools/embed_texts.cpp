// Build-time generator: turns the editor page sources into constant texts.
//
//   tessellgrove_ui_embed <index.html> <bridge.js> <out.cpp> <out_page.html> <out_bridge.js> <out.d>
//
// The page is made self-contained: <link rel="stylesheet" href="F"> becomes a
// <style> element holding F, <script src="F"></script> a <script> element
// holding F, and every url("F") in a style sheet and src="F" in the HTML a
// Base64 data URL. Paths are relative to the file that names them. The
// result must hold "</head>" and "<body>" exactly once (the editor inserts
// the bridge script before "</head>") and refer to nothing outside itself.
// The bridge script is carried byte for byte. Besides the C++ source, the
// two texts are written as plain files (for the browser tests) and a depfile
// lists every input read.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Every input file read, for the depfile.
std::vector<fs::path> g_inputs;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "tessellgrove_ui_embed: %s\n", message.c_str());
    std::exit(1);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path.string());
    g_inputs.push_back(fs::absolute(path).lexically_normal());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) fail("cannot write " + path.string());
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) fail("write failed: " + path.string());
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const auto n = (static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16U) |
                       (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8U) |
                       static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 2]));
        out += alphabet[(n >> 18U) & 63U];
        out += alphabet[(n >> 12U) & 63U];
        out += alphabet[(n >> 6U) & 63U];
        out += alphabet[n & 63U];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned n = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16U;
        if (rest == 2) n |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8U;
        out += alphabet[(n >> 18U) & 63U];
        out += alphabet[(n >> 12U) & 63U];
        out += rest == 2 ? alphabet[(n >> 6U) & 63U] : '=';
        out += '=';
    }
    return out;
}

std::string mime_type(const fs::path& path) {
    const std::string ext = path.extension().string();
    if (ext == ".woff2") return "font/woff2";
    if (ext == ".webp") return "image/webp";
    if (ext == ".png") return "image/png";
    if (ext == ".svg") return "image/svg+xml";
    fail("no media type known for " + path.string());
}

std::size_t count(std::string_view text, std::string_view needle) {
    std::size_t n = 0;
    for (auto pos = text.find(needle); pos != std::string_view::npos; pos = text.find(needle, pos + needle.size())) ++n;
    return n;
}

// Replaces every `prefix` + quoted path + `"` whose path is not already a data
// URL by a data URL of the file, resolved against `base`. Scripts are left to
// the element pass below, which puts their text inline.
std::string inline_urls(std::string text, std::string_view prefix, const fs::path& base) {
    std::size_t pos = 0;
    while ((pos = text.find(prefix, pos)) != std::string::npos) {
        const std::size_t start = pos + prefix.size();
        const std::size_t end = text.find('"', start);
        if (end == std::string::npos) fail("unterminated reference after " + std::string(prefix));
        const std::string ref = text.substr(start, end - start);
        if (ref.rfind("data:", 0) == 0 || fs::path(ref).extension() == ".js") {
            pos = end;
            continue;
        }
        const fs::path file = base / ref;
        const std::string url = "data:" + mime_type(file) + ";base64," + base64(read_file(file));
        text.replace(start, end - start, url);
        pos = start + url.size();
    }
    return text;
}

// Replaces each element `open` + path + `close` by `replacement_open` + the
// file's text (its references inlined by `inline_refs`) + `replacement_close`.
template <typename InlineRefs>
std::string inline_elements(std::string html, std::string_view open, std::string_view close,
                            std::string_view replacement_open, std::string_view replacement_close,
                            const fs::path& base, InlineRefs inline_refs) {
    std::size_t pos = 0;
    while ((pos = html.find(open, pos)) != std::string::npos) {
        const std::size_t start = pos + open.size();
        const std::size_t end = html.find(close, start);
        if (end == std::string::npos) fail("unterminated element " + std::string(open));
        const fs::path file = base / html.substr(start, end - start);
        std::string body = inline_refs(read_file(file), file.parent_path());
        if (body.find("</") != std::string::npos && (body.find("</script") != std::string::npos ||
                                                      body.find("</style") != std::string::npos ||
                                                      body.find("</head>") != std::string::npos)) {
            fail(file.string() + " holds a closing tag that would end its element early");
        }
        if (body.empty() || body.back() != '\n') body += '\n';
        std::string element = std::string(replacement_open) + "\n" + body + std::string(replacement_close);
        html.replace(pos, end + close.size() - pos, element);
        pos += element.size();
    }
    return html;
}

std::string byte_array(std::string_view name, std::string_view bytes) {
    std::ostringstream out;
    out << "constexpr unsigned char " << name << "[] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 24 == 0) out << "\n    ";
        out << static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << ',';
    }
    out << "\n};\n";
    return out.str();
}

std::string depfile_path(const fs::path& path) {
    std::string out;
    for (char c : path.string()) {
        if (c == ' ') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        fail("usage: tessellgrove_ui_embed <index.html> <bridge.js> <out.cpp> <out_page.html> <out_bridge.js> <out.d>");
    }
    const fs::path html_path = argv[1];
    const fs::path bridge_path = argv[2];
    const fs::path base = html_path.parent_path();

    std::string page = inline_urls(read_file(html_path), "src=\"", base);
    page = inline_elements(page, "<link rel=\"stylesheet\" href=\"", "\">", "<style>", "</style>", base,
                           [](std::string css, const fs::path& dir) { return inline_urls(std::move(css), "url(\"", dir); });
    page = inline_elements(page, "<script src=\"", "\"></script>", "<script>", "</script>", base,
                           [](std::string js, const fs::path&) { return js; });

    if (count(page, "</head>") != 1) fail("the page must hold \"</head>\" exactly once");
    if (count(page, "<body>") != 1) fail("the page must hold \"<body>\" exactly once");
    for (std::string_view outside : {"http://", "https://", "href=\"", "src=\"../", "url(\"../", "url(http"}) {
        if (page.find(outside) != std::string::npos) fail("the page still refers to something outside itself: " + std::string(outside));
    }

    const std::string bridge = read_file(bridge_path);
    if (bridge.find("</script") != std::string::npos) fail("the bridge script must not hold \"</script\"");

    std::string cpp =
        "// Generated by tessellgrove_ui_embed from ui/page and ui/bridge: edit those, not this file.\n"
        "#include \"ui/editor_texts.hpp\"\n\n"
        "namespace tessellgrove::ui {\nnamespace {\n\n";
    cpp += byte_array("page_bytes", page);
    cpp += '\n';
    cpp += byte_array("bridge_bytes", bridge);
    cpp += "\n}  // namespace\n\n"
           "std::string_view editor_page_html() noexcept {\n"
           "    return {reinterpret_cast<const char*>(page_bytes), sizeof page_bytes};\n}\n\n"
           "std::string_view bridge_script() noexcept {\n"
           "    return {reinterpret_cast<const char*>(bridge_bytes), sizeof bridge_bytes};\n}\n\n"
           "}  // namespace tessellgrove::ui\n";

    write_file(argv[3], cpp);
    write_file(argv[4], page);
    write_file(argv[5], bridge);

    std::string deps = depfile_path(fs::path(argv[3])) + ":";
    for (const auto& input : g_inputs) deps += " \\\n  " + depfile_path(input);
    deps += '\n';
    write_file(argv[6], deps);
    return 0;
}
