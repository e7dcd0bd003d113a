#include "plugin/presets/tessellgrove_preset.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bitset>
#include <charconv>
#include <iterator>
#include <cmath>
#include <limits>
#include <string>
#include <variant>
#include <vector>

namespace tessellgrove {
namespace {

// Document type for the reader events. Numbers are lexed as doubles, so a
// skipped value may hold any magnitude a double can; float fields convert
// the number's own text (see read_float).
using PresetJson = nlohmann::json;

using MemberRef = std::variant<std::string TessellgrovePreset::*, float TessellgrovePreset::*,
                               std::int32_t TessellgrovePreset::*, std::uint8_t TessellgrovePreset::*,
                               bool TessellgrovePreset::*>;

// One record field: its key, where it lives, and what a reader uses when
// the key is missing (`required` fields fail instead).
struct FieldInfo {
    std::string_view key;
    MemberRef member;
    bool required;
    float fallback; // converted to the field's type
};

using P = TessellgrovePreset;

const std::array<FieldInfo, preset_field_count> fields = {{
    {"name", &P::name, true, 0.0f},
    {"input_gain", &P::input_gain, false, 0.0f},
    {"mix", &P::mix, true, 0.0f},
    {"output_gain", &P::output_gain, true, 0.0f},
    {"stereo_width", &P::stereo_width, false, 1.0f},
    {"lock_freq", &P::lock_freq, true, 0.0f},
    {"carrier_mode", &P::carrier_mode, true, 0.0f},
    {"carrier_env_amount", &P::carrier_env_amount, false, 0.0f},
    {"mode_cycle_enable", &P::mode_cycle_enable, false, 0.0f},
    {"mode_cycle_div", &P::mode_cycle_div, false, 0.0f},
    {"formant_position", &P::formant_position, true, 0.0f},
    {"formant_width", &P::formant_width, true, 0.0f},
    {"formant_morph_rate", &P::formant_morph_rate, true, 0.0f},
    {"stoch_spread", &P::stoch_spread, true, 0.0f},
    {"stoch_density", &P::stoch_density, true, 0.0f},
    {"stoch_smoothing", &P::stoch_smoothing, true, 0.0f},
    {"swarm_count", &P::swarm_count, true, 0.0f},
    {"swarm_spread", &P::swarm_spread, true, 0.0f},
    {"swarm_drift", &P::swarm_drift, true, 0.0f},
    {"trig_div", &P::trig_div, true, 0.0f},
    {"trig_amount", &P::trig_amount, true, 0.0f},
    {"char_mode", &P::char_mode, true, 0.0f},
    {"char_amount", &P::char_amount, true, 0.0f},
    {"comb_feedback", &P::comb_feedback, false, 0.0f},
    {"comb_tuning", &P::comb_tuning, false, 440.0f},
    {"comb_mix", &P::comb_mix, false, 0.0f},
    {"lock_motion_enable", &P::lock_motion_enable, false, 0.0f},
    {"lock_motion_rate", &P::lock_motion_rate, false, 4.0f},
    {"lock_motion_depth", &P::lock_motion_depth, false, 0.5f},
    {"lock_motion_shape", &P::lock_motion_shape, false, 0.0f},
}};

constexpr std::string_view expected_struct = "struct TessellgrovePreset";

void apply_fallback(TessellgrovePreset& preset, const FieldInfo& info) {
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(preset.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                preset.*member = std::string();
            } else if constexpr (std::is_same_v<T, bool>) {
                preset.*member = info.fallback != 0.0f;
            } else {
                preset.*member = static_cast<T>(info.fallback);
            }
        },
        info.member);
}

// One scalar or container-start event of the JSON reader.
struct JsonValue {
    enum class Type { Null, Boolean, Integer, Unsigned, Float, String, Map, Sequence };
    JsonValue(Type t) noexcept : type(t) {} // NOLINT: implicit on purpose
    Type type;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsigned_integer = 0;
    float floating = 0.0f;
    std::string_view text; // raw number text or decoded string
};

// How a reader error names the value it got.
std::string describe(const JsonValue& v) {
    switch (v.type) {
    case JsonValue::Type::Null:
        return "null";
    case JsonValue::Type::Boolean:
        return std::string("boolean `") + (v.boolean ? "true" : "false") + "`";
    case JsonValue::Type::Integer:
        return "integer `" + std::to_string(v.integer) + "`";
    case JsonValue::Type::Unsigned:
        return "integer `" + std::to_string(v.unsigned_integer) + "`";
    case JsonValue::Type::Float:
        return "floating point `" + std::string(v.text) + "`";
    case JsonValue::Type::String:
        return "string " + quote_json_string(v.text);
    case JsonValue::Type::Map:
        return "map";
    case JsonValue::Type::Sequence:
        break;
    }
    return "sequence";
}

std::string invalid_type(const JsonValue& v, std::string_view expected) {
    return "invalid type: " + describe(v) + ", expected " + std::string(expected);
}

std::string invalid_value(const JsonValue& v, std::string_view expected) {
    return "invalid value: " + describe(v) + ", expected " + std::string(expected);
}

std::string invalid_length(std::size_t length) {
    return "invalid length " + std::to_string(length) + ", expected " + std::string(expected_struct) +
           " with 30 elements";
}

// Event-driven reader filling one record. Duplicate keys, field types and
// missing fields are checked here; syntax and trailing content by the
// parser it is driven by.
class PresetReader final : public nlohmann::json_sax<PresetJson> {
public:
    bool null() override { return on_value({JsonValue::Type::Null}); }
    bool boolean(bool value) override {
        JsonValue v{JsonValue::Type::Boolean};
        v.boolean = value;
        return on_value(v);
    }
    bool number_integer(number_integer_t value) override {
        JsonValue v{JsonValue::Type::Integer};
        v.integer = value;
        return on_value(v);
    }
    bool number_unsigned(number_unsigned_t value) override {
        JsonValue v{JsonValue::Type::Unsigned};
        v.unsigned_integer = value;
        return on_value(v);
    }
    bool number_float(number_float_t value, const string_t& raw) override {
        // The lexer writes the locale's decimal point into the token; JSON
        // numbers never hold a comma, so any comma is that point.
        number_text_ = raw;
        for (char& c : number_text_) {
            if (c == ',') {
                c = '.';
            }
        }
        JsonValue v{JsonValue::Type::Float};
        v.floating = read_float(number_text_, value);
        v.text = number_text_;
        return on_value(v);
    }
    bool string(string_t& value) override {
        JsonValue v{JsonValue::Type::String};
        v.text = value;
        return on_value(v);
    }
    bool binary(binary_t&) override { return fail("unexpected binary value"); }
    bool start_object(std::size_t) override { return on_container(JsonValue::Type::Map); }
    bool start_array(std::size_t) override { return on_container(JsonValue::Type::Sequence); }
    bool end_object() override { return on_end(); }
    bool end_array() override { return on_end(); }

    bool key(string_t& key) override {
        if (skip_depth_ > 0) {
            return true;
        }
        const auto it = std::find_if(fields.begin(), fields.end(),
                                     [&](const FieldInfo& f) { return f.key == key; });
        if (it == fields.end()) {
            pending_field_ = skip_field;
            return true;
        }
        const auto index = static_cast<std::size_t>(it - fields.begin());
        if (seen_[index]) {
            return fail("duplicate field `" + key + "`");
        }
        seen_[index] = true;
        pending_field_ = index;
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
        // Drop the library's "[json.exception.parse_error.101] " tag.
        std::string message = ex.what();
        if (!message.empty() && message.front() == '[') {
            const auto close = message.find("] ");
            if (close != std::string::npos) {
                message.erase(0, close + 2);
            }
        }
        return fail(std::move(message));
    }

    bool complete() const noexcept { return complete_; }
    const std::string& error() const noexcept { return error_; }
    TessellgrovePreset& preset() noexcept { return preset_; }

private:
    static constexpr std::size_t skip_field = preset_field_count;
    enum class Form { None, Object, Array };

    bool fail(std::string message) {
        if (error_.empty()) {
            error_ = std::move(message);
        }
        return false;
    }

    bool on_container(JsonValue::Type type) {
        if (skip_depth_ > 0) {
            ++skip_depth_;
            return true;
        }
        if (form_ == Form::None) {
            form_ = type == JsonValue::Type::Map ? Form::Object : Form::Array;
            return true;
        }
        return on_value({type});
    }

    bool on_end() {
        if (skip_depth_ > 0) {
            --skip_depth_;
            return true;
        }
        return form_ == Form::Object ? finish_object() : finish_array();
    }

    // A value directly inside the top-level object or array, or the top-level
    // value itself when it is not a container.
    bool on_value(const JsonValue& v) {
        if (skip_depth_ > 0) {
            return true;
        }
        std::size_t index = skip_field;
        switch (form_) {
        case Form::None:
            return fail(invalid_type(v, expected_struct));
        case Form::Object:
            index = pending_field_;
            pending_field_ = skip_field;
            break;
        case Form::Array:
            index = position_ < preset_field_count ? position_ : skip_field;
            ++position_;
            break;
        }
        if (index == skip_field) {
            if (v.type == JsonValue::Type::Map || v.type == JsonValue::Type::Sequence) {
                skip_depth_ = 1;
            }
            return true;
        }
        return assign(fields[index], v);
    }

    bool assign(const FieldInfo& info, const JsonValue& v) {
        return std::visit([&](auto member) { return assign_to(preset_.*member, v); }, info.member);
    }

    bool assign_to(std::string& out, const JsonValue& v) {
        if (v.type != JsonValue::Type::String) {
            return fail(invalid_type(v, "a string"));
        }
        out.assign(v.text);
        return true;
    }

    bool assign_to(float& out, const JsonValue& v) {
        switch (v.type) {
        case JsonValue::Type::Integer:
            out = static_cast<float>(v.integer);
            return true;
        case JsonValue::Type::Unsigned:
            out = static_cast<float>(v.unsigned_integer);
            return true;
        case JsonValue::Type::Float:
            // A magnitude beyond the 32-bit range is no valid value.
            if (!std::isfinite(v.floating)) {
                return fail(invalid_value(v, "f32"));
            }
            out = v.floating;
            return true;
        default:
            return fail(invalid_type(v, "f32"));
        }
    }

    template <typename Int>
    bool assign_integer(Int& out, const JsonValue& v, std::string_view expected) {
        constexpr auto lo = static_cast<std::int64_t>(std::numeric_limits<Int>::min());
        constexpr auto hi = static_cast<std::int64_t>(std::numeric_limits<Int>::max());
        if (v.type == JsonValue::Type::Integer) {
            if (v.integer < lo || v.integer > hi) {
                return fail(invalid_value(v, expected));
            }
            out = static_cast<Int>(v.integer);
            return true;
        }
        if (v.type == JsonValue::Type::Unsigned) {
            if (v.unsigned_integer > static_cast<std::uint64_t>(hi)) {
                return fail(invalid_value(v, expected));
            }
            out = static_cast<Int>(v.unsigned_integer);
            return true;
        }
        return fail(invalid_type(v, expected));
    }

    bool assign_to(std::int32_t& out, const JsonValue& v) { return assign_integer(out, v, "i32"); }
    bool assign_to(std::uint8_t& out, const JsonValue& v) { return assign_integer(out, v, "u8"); }

    bool assign_to(bool& out, const JsonValue& v) {
        if (v.type != JsonValue::Type::Boolean) {
            return fail(invalid_type(v, "a boolean"));
        }
        out = v.boolean;
        return true;
    }

    bool finish_object() {
        for (std::size_t i = 0; i < preset_field_count; ++i) {
            if (seen_[i]) {
                continue;
            }
            if (fields[i].required) {
                return fail("missing field `" + std::string(fields[i].key) + "`");
            }
            apply_fallback(preset_, fields[i]);
        }
        complete_ = true;
        return true;
    }

    bool finish_array() {
        if (position_ > preset_field_count) {
            return fail(invalid_length(position_));
        }
        for (std::size_t i = position_; i < preset_field_count; ++i) {
            if (fields[i].required) {
                return fail(invalid_length(i));
            }
            apply_fallback(preset_, fields[i]);
        }
        complete_ = true;
        return true;
    }

    // The number's text correctly rounded to a 32-bit float; infinite when
    // its magnitude is beyond the float range (`approx` is the double the
    // lexer read, used only to tell overflow from underflow).
    static float read_float(const std::string& text, double approx) noexcept {
        float out = 0.0f;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
        if (r.ec == std::errc::result_out_of_range) {
            const bool overflow = std::fabs(approx) >= 1.0;
            const float magnitude = overflow ? std::numeric_limits<float>::infinity() : 0.0f;
            return std::signbit(approx) ? -magnitude : magnitude;
        }
        if (r.ec != std::errc()) {
            return static_cast<float>(approx);
        }
        return out;
    }

    TessellgrovePreset preset_;
    std::string number_text_; // text of the last float number event
    Form form_ = Form::None;
    std::bitset<preset_field_count> seen_;
    std::size_t pending_field_ = skip_field; // field the next object value belongs to
    std::size_t position_ = 0;                // next element index in the array form
    std::size_t skip_depth_ = 0;              // nesting depth of a value being skipped
    bool complete_ = false;
    std::string error_;
};

} // namespace

const std::array<std::string_view, preset_field_count> preset_field_keys = [] {
    std::array<std::string_view, preset_field_count> keys{};
    for (std::size_t i = 0; i < preset_field_count; ++i) {
        keys[i] = fields[i].key;
    }
    return keys;
}();

// Shortest round-trip digits come from std::to_chars (exact, with ties
// to even honoured); the JSON library's own float printer is not always
// shortest at rounding boundaries. The layout is the JSON library's: fixed
// notation with ".0" for whole numbers while the decimal point lies within
// 15 digits, "0.000ddd" down to 1e-4, exponent notation ("1e+16",
// "1.5e-07") beyond.
std::string format_preset_float(float value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char sci[32];
    const auto result = std::to_chars(std::begin(sci), std::end(sci), value, std::chars_format::scientific);
    const std::string_view text(sci, static_cast<std::size_t>(result.ptr - sci));
    // text = [-]d[.ddd]e(+|-)XX
    const bool negative = text.front() == '-';
    const auto e_pos = text.find('e');
    std::string digits;
    for (char c : text.substr(negative ? 1 : 0, e_pos - (negative ? 1 : 0))) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    const int exponent = std::stoi(std::string(text.substr(e_pos + 1)));
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1; // position of the decimal point after the first n digits
    constexpr int min_exp = -4;
    constexpr int max_exp = 15;

    std::string out = negative ? "-" : "";
    if (k <= n && n <= max_exp) {
        out += digits;
        out.append(static_cast<std::size_t>(n - k), '0');
        out += ".0";
    } else if (0 < n && n <= max_exp) {
        out += digits.substr(0, static_cast<std::size_t>(n));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(n));
    } else if (min_exp < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out += digits;
    } else {
        out += digits.front();
        if (k > 1) {
            out += '.';
            out += digits.substr(1);
        }
        const int e = n - 1;
        out += e < 0 ? "e-" : "e+";
        const int magnitude = e < 0 ? -e : e;
        if (magnitude < 10) {
            out += '0';
        }
        out += std::to_string(magnitude);
    }
    return out;
}

std::string quote_json_string(std::string_view text) {
    return PresetJson(std::string(text)).dump(-1, ' ', false, PresetJson::error_handler_t::replace);
}

namespace {
std::string json_value_text(const std::string& v) { return quote_json_string(v); }
std::string json_value_text(float v) { return format_preset_float(v); }
std::string json_value_text(std::int32_t v) { return std::to_string(v); }
std::string json_value_text(std::uint8_t v) { return std::to_string(static_cast<unsigned>(v)); }
std::string json_value_text(bool v) { return v ? "true" : "false"; }
} // namespace

PresetParamValues TessellgrovePreset::to_param_values() const noexcept {
    const auto index = [](std::uint8_t i, float last) { return static_cast<float>(i) / last; };
    const auto on_off = [](bool b) { return b ? 1.0f : 0.0f; };
    const float swarm =
        static_cast<float>(std::clamp(swarm_count, std::int32_t{2}, std::int32_t{16}) - 2) / 14.0f;
    return {{
        {"input_gain", (std::clamp(input_gain, -12.0f, 12.0f) + 12.0f) / 24.0f},
        {"mix", mix},
        {"output_gain", (std::clamp(output_gain, -24.0f, 12.0f) + 24.0f) / 36.0f},
        {"stereo_width", std::clamp(stereo_width, 0.0f, 2.0f) / 2.0f},
        {"lock_freq", std::pow((std::clamp(lock_freq, 40.0f, 5000.0f) - 40.0f) / 4960.0f, 0.25f)},
        {"carrier_mode", index(carrier_mode, 2.0f)},
        {"carrier_env_amount", carrier_env_amount},
        {"mode_cycle_enable", on_off(mode_cycle_enable)},
        {"mode_cycle_div", index(mode_cycle_div, 3.0f)},
        {"formant_position", formant_position},
        {"formant_width", formant_width},
        {"formant_morph_rate", std::sqrt(std::clamp(formant_morph_rate, 0.0f, 10.0f) / 10.0f)},
        {"stoch_spread", stoch_spread},
        {"stoch_density", stoch_density},
        {"stoch_smoothing", stoch_smoothing},
        {"swarm_count", swarm},
        {"swarm_spread", swarm_spread},
        {"swarm_drift", swarm_drift},
        {"trig_div", index(trig_div, 3.0f)},
        {"trig_amount", trig_amount},
        {"char_mode", index(char_mode, 3.0f)},
        {"char_amount", char_amount},
        {"comb_feedback", comb_feedback / 0.95f},
        {"comb_tuning", std::pow((std::clamp(comb_tuning, 20.0f, 5000.0f) - 20.0f) / 4980.0f, 0.25f)},
        {"comb_mix", comb_mix},
        {"lock_motion_enable", on_off(lock_motion_enable)},
        {"lock_motion_rate", index(lock_motion_rate, 8.0f)},
        {"lock_motion_depth", lock_motion_depth},
        {"lock_motion_shape", index(lock_motion_shape, 4.0f)},
    }};
}

std::string TessellgrovePreset::to_json() const {
    // Laid out by hand because floats need format_preset_float; otherwise
    // this is the JSON library's two-space pretty form.
    std::string out = "{";
    bool first = true;
    for (const FieldInfo& info : fields) {
        out += first ? "\n  " : ",\n  ";
        first = false;
        out += quote_json_string(info.key);
        out += ": ";
        std::visit([&](auto member) { out += json_value_text(this->*member); }, info.member);
    }
    out += "\n}";
    return out;
}

PresetResult<TessellgrovePreset> TessellgrovePreset::from_json(std::string_view text) {
    try {
        PresetReader reader;
        const bool ok = PresetJson::sax_parse(text.data(), text.data() + text.size(), &reader,
                                              nlohmann::detail::input_format_t::json, true);
        if (ok && reader.complete()) {
            return std::move(reader.preset());
        }
        return PresetError::json(reader.error().empty() ? std::string("invalid preset text") : reader.error());
    } catch (const std::exception& ex) {
        return PresetError::json(ex.what());
    }
}

} // namespace tessellgrove
