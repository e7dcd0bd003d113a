#pragma once
// One entry of the preset list sent to the page.

#include <string>

#include <nlohmann/json.hpp>

namespace webview {

// A preset as the page lists it: its name and whether it is a factory preset.
struct PresetInfo {
    std::string name;
    bool is_factory = false; // true for a built-in preset, false for a user file
    bool operator==(const PresetInfo&) const = default;
};

// JSON object with exactly "name" then "is_factory". The key order needs an
// ordered JSON value; a plain `nlohmann::json` sorts its keys.
void to_json(nlohmann::ordered_json& json, const PresetInfo& info);
// Reads "name" and "is_factory"; throws nlohmann::json exceptions on a bad shape.
void from_json(const nlohmann::ordered_json& json, PresetInfo& info);

} // namespace webview
