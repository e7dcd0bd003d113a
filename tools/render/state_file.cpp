#include "tools/render/state_file.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessellgrove::render {

std::optional<std::string> load_state_file(const std::string& path, RenderHost& host) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "cannot read state file '" + path + "'";
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return "cannot read state file '" + path + "'";
    }
    if (!host.load_state(bytes)) {
        return "the plug-in refused the state in '" + path + "'";
    }
    return std::nullopt;
}

std::optional<std::string> save_state_file(const std::string& path, RenderHost& host) {
    const auto state = host.save_state();
    if (!state) {
        return "the plug-in saved no state";
    }
    // Written beside the target and renamed over it, so a failed write
    // leaves an existing file as it was.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(state->data(), static_cast<std::streamsize>(state->size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            return "cannot write state file '" + path + "'";
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::remove(temporary.c_str());
        return "cannot write state file '" + path + "': " + error.message();
    }
    return std::nullopt;
}

} // namespace tessellgrove::render
