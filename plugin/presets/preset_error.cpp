#include "plugin/presets/preset_error.hpp"

#include <cstring>
#include <string>

namespace tessellgrove {

PresetError PresetError::io(std::string message) {
    return PresetError(Kind::Io, std::move(message));
}

PresetError PresetError::io_errno(int error_number) {
    return PresetError(Kind::Io, os_error_text(error_number));
}

PresetError PresetError::json(std::string message) {
    return PresetError(Kind::Json, std::move(message));
}

PresetError PresetError::no_preset_directory() {
    return PresetError(Kind::NoPresetDirectory, {});
}

std::string PresetError::to_string() const {
    switch (kind_) {
    case Kind::Io:
        return "IO error: " + message_;
    case Kind::Json:
        return "JSON error: " + message_;
    case Kind::NoPresetDirectory:
        break;
    }
    return "Could not find preset directory";
}

std::string os_error_text(int error_number) {
    // The GNU strerror_r returns a pointer that may or may not be `buffer`.
    char buffer[256] = {};
    const char* text = strerror_r(error_number, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

} // namespace tessellgrove
