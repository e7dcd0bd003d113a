#pragma once
// The 28 factory presets, built once on first use (thread-safe) and
// immutable afterwards.

#include "plugin/presets/tessellgrove_preset.hpp"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace tessellgrove {

// Read-only view of the factory list; every access goes through one
// lazily built table shared by all instances.
struct FactoryPresetList {
    // The records in list order.
    std::span<const TessellgrovePreset> records() const;
    std::size_t size() const { return records().size(); }
    const TessellgrovePreset& operator[](std::size_t i) const { return records()[i]; }
    auto begin() const { return records().begin(); }
    auto end() const { return records().end(); }
    // First record whose name equals `name` byte for byte, or nothing.
    const TessellgrovePreset* find(std::string_view name) const;
};

// The factory presets.
inline constexpr FactoryPresetList FACTORY_PRESETS{};

} // namespace tessellgrove
