#pragma once
// User presets on disk: one pretty JSON file per preset, named
// "<stem>.tessellgrove", in <config dir>/corvalune/tessellgrove/Presets.
//
// Free functions without state; every call looks the directory up again
// and reads the disk afresh. Called from the preset worker thread only
// (one call at a time per instance); other processes may change the
// directory at any moment, so saves replace their target in one rename.

#include "plugin/presets/preset_error.hpp"
#include "plugin/presets/tessellgrove_preset.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessellgrove {

// Extension of user preset files, without the dot.
inline constexpr std::string_view preset_file_extension = "tessellgrove";
// Largest preset file that `load_preset` reads, in bytes.
inline constexpr std::size_t max_preset_file_size = std::size_t{1} << 20;

// One entry of the combined preset list.
struct PresetEntry {
    enum class Kind { Factory, User };

    Kind kind = Kind::Factory;
    std::string name;            // factory: the record's name; user: the file stem
    TessellgrovePreset preset;   // factory entries only
    std::filesystem::path path;  // user entries only

    bool is_factory() const noexcept { return kind == Kind::Factory; }
};

// <config dir>/corvalune/tessellgrove/Presets, where the configuration
// directory is $XDG_CONFIG_HOME (absolute only), else $HOME/.config (HOME
// non-empty), else the password database's home of the real user plus
// "/.config". None when no home directory is known. Nothing is created.
std::optional<std::filesystem::path> get_presets_dir();

// File stem for a preset name: the characters " * / : < > ? \ | become "_",
// then White_Space is trimmed at both ends. Nothing else changes.
std::string preset_file_stem(std::string_view name);

// Writes `preset` to "<stem>.tessellgrove" through a temporary file unique
// to this call in the same directory, synced before it replaces the target
// in one rename. Returns the written path.
PresetResult<std::filesystem::path> save_preset(const TessellgrovePreset& preset);

// Reads and parses one preset file (at most max_preset_file_size bytes).
PresetResult<TessellgrovePreset> load_preset(const std::filesystem::path& path);

// Factory presets, then user files with the preset extension, stably
// sorted by the Unicode lower-case form of their names. Never fails.
std::vector<PresetEntry> list_all_presets();

// Removes one file (a user preset found through the listing).
std::optional<PresetError> remove_preset_file(const std::filesystem::path& path);

// Splits a file name as the listing does: the extension is what follows the
// last dot, unless that dot is the first character. Returns the stem and,
// when there is one, the extension.
std::pair<std::string_view, std::optional<std::string_view>> split_file_name(std::string_view file_name);

} // namespace tessellgrove
