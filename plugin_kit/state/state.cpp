#include "plugin_kit/state/state.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

namespace plugin_kit {

namespace {

using Json = nlohmann::json;

// Appends `text` as a JSON string: quotes, backslashes and control
// characters escaped, everything else (UTF-8 included) as is.
void append_json_string(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out += hex[u >> 4];
                out += hex[u & 0x0F];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// Digits and decimal exponent of the shortest round-trip form of a finite,
// non-zero float: value = 0.d1d2...dn x 10^kk, i.e. 10^(kk-1) <= |value| < 10^kk.
struct ShortestDigits {
    std::string digits;
    int kk = 0;
};

ShortestDigits shortest_digits(float magnitude) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf)); // "d.ddde+XX"
    const size_t e_pos = sci.find('e');
    ShortestDigits out;
    for (const char c : sci.substr(0, e_pos)) {
        if (c != '.') {
            out.digits += c;
        }
    }
    int exponent = 0;
    const std::string_view exp_text = sci.substr(e_pos + 1);
    const char* first = exp_text.data();
    if (*first == '+') {
        ++first;
    }
    std::from_chars(first, exp_text.data() + exp_text.size(), exponent);
    out.kk = exponent + 1;
    return out;
}

// Keys of a top-level object seen more than once, recorded while parsing
// (the parsed value itself keeps only the last of them).
struct DuplicateKeyCheck {
    std::set<std::string> seen;
    bool duplicate = false;
};

bool read_param_value(const Json& member, StateParamValue& out, std::string& error,
                      const std::string& id) {
    if (!member.is_object() || member.size() != 1) {
        error = "params member \"" + id + "\" is not a one-member object";
        return false;
    }
    const auto first = member.begin();
    const std::string& key = first.key();
    const Json& value = first.value();
    if (key == "f32") {
        if (!value.is_number()) {
            error = "params member \"" + id + "\": f32 value is not a number";
            return false;
        }
        const double d = value.get<double>();
        StateF32 f;
        if (std::isfinite(d) && std::fabs(d) <= static_cast<double>(std::numeric_limits<float>::max())) {
            f.value = static_cast<float>(d);
        }
        out = f;
        return true;
    }
    if (key == "i32") {
        if (!value.is_number_integer()) {
            error = "params member \"" + id + "\": i32 value is not an integer";
            return false;
        }
        if (value.is_number_unsigned()) {
            const auto u = value.get<uint64_t>();
            if (u > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
                error = "params member \"" + id + "\": i32 value out of range";
                return false;
            }
            out = StateI32{static_cast<int32_t>(u)};
            return true;
        }
        const auto i = value.get<int64_t>();
        if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max()) {
            error = "params member \"" + id + "\": i32 value out of range";
            return false;
        }
        out = StateI32{static_cast<int32_t>(i)};
        return true;
    }
    if (key == "bool") {
        if (!value.is_boolean()) {
            error = "params member \"" + id + "\": bool value is not a boolean";
            return false;
        }
        out = StateBool{value.get<bool>()};
        return true;
    }
    if (key == "string") {
        if (!value.is_string()) {
            error = "params member \"" + id + "\": string value is not a string";
            return false;
        }
        out = StateString{value.get<std::string>()};
        return true;
    }
    error = "params member \"" + id + "\" has unknown value key \"" + key + "\"";
    return false;
}

// Fills `state` from the three parts; false with `error` set on a wrong type.
bool read_parts(const Json* version, const Json& params, const Json& fields, ParsedState& state,
                std::string& error) {
    if (version != nullptr) {
        if (!version->is_string()) {
            error = "\"version\" is not a string";
            return false;
        }
        state.version = version->get<std::string>();
    }
    if (!params.is_object()) {
        error = "\"params\" is not an object";
        return false;
    }
    if (!fields.is_object()) {
        error = "\"fields\" is not an object";
        return false;
    }
    // The parsed object is ordered by key (byte order) and already holds
    // only the last value of an id given twice.
    state.params.reserve(params.size());
    for (const auto& [id, member] : params.items()) {
        StateParamValue value;
        if (!read_param_value(member, value, error, id)) {
            return false;
        }
        state.params.emplace_back(id, std::move(value));
    }
    for (const auto& [key, value] : fields.items()) {
        if (!value.is_string()) {
            error = "\"fields\" member \"" + key + "\" is not a string";
            return false;
        }
        state.fields.emplace(key, value.get<std::string>());
    }
    return true;
}

} // namespace

std::string format_state_f32(float value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    std::string out;
    if (std::signbit(value)) {
        out += '-';
    }
    const float magnitude = std::fabs(value);
    if (magnitude == 0.0f) {
        return out + "0.0";
    }
    const ShortestDigits sd = shortest_digits(magnitude);
    const int length = static_cast<int>(sd.digits.size());
    const int kk = sd.kk;
    const int k = kk - length; // value = digits x 10^k
    if (k >= 0 && kk <= 13) {
        // 1234e3 -> 1234000.0
        out += sd.digits;
        out.append(static_cast<size_t>(k), '0');
        out += ".0";
    } else if (kk > 0 && kk <= 13) {
        // 1234e-2 -> 12.34
        out += sd.digits.substr(0, static_cast<size_t>(kk));
        out += '.';
        out += sd.digits.substr(static_cast<size_t>(kk));
    } else if (kk > -6 && kk <= 0) {
        // 1234e-7 -> 0.0001234
        out += "0.";
        out.append(static_cast<size_t>(-kk), '0');
        out += sd.digits;
    } else {
        // 1e30, 1.234e-20
        out += sd.digits[0];
        if (length > 1) {
            out += '.';
            out += sd.digits.substr(1);
        }
        out += 'e';
        out += std::to_string(kk - 1);
    }
    return out;
}

std::string write_state_json(Params& params, std::string_view version) {
    struct Member {
        std::string_view id;
        const Param* param;
    };
    std::vector<Member> members;
    for (const ParamMapEntry& entry : params.param_map()) {
        members.push_back({entry.id, entry.param});
    }
    // Byte order, as std::string_view compares.
    std::sort(members.begin(), members.end(),
              [](const Member& a, const Member& b) { return a.id < b.id; });

    std::string out;
    out.reserve(64 + members.size() * 40);
    out += "{\"version\":";
    append_json_string(out, version);
    out += ",\"params\":{";
    bool first = true;
    for (const Member& m : members) {
        if (!first) {
            out += ',';
        }
        first = false;
        append_json_string(out, m.id);
        out += ":{";
        switch (m.param->kind()) {
        case ParamKind::Float:
            out += "\"f32\":";
            out += format_state_f32(static_cast<const FloatParam*>(m.param)->unmodulated_value());
            break;
        case ParamKind::Int:
            out += "\"i32\":";
            out += std::to_string(static_cast<const IntParam*>(m.param)->unmodulated_value());
            break;
        case ParamKind::Enum:
            out += "\"i32\":";
            out += std::to_string(static_cast<const EnumParam*>(m.param)->unmodulated_value());
            break;
        case ParamKind::Bool:
            out += "\"bool\":";
            out += static_cast<const BoolParam*>(m.param)->unmodulated_value() ? "true" : "false";
            break;
        }
        out += '}';
    }
    out += "},\"fields\":{";
    first = true;
    for (const auto& [key, value] : params.serialize_fields()) {
        if (!first) {
            out += ',';
        }
        first = false;
        append_json_string(out, key);
        out += ':';
        append_json_string(out, value);
    }
    out += "}}";
    return out;
}

StateParseResult parse_state_json(std::string_view text) noexcept {
    StateParseResult result;
    try {
        DuplicateKeyCheck dup;
        // Keys at depth 1 are exactly the members of a top-level object.
        auto callback = [&dup](int depth, Json::parse_event_t event, Json& parsed) {
            if (event == Json::parse_event_t::key && depth == 1) {
                if (!dup.seen.insert(parsed.get<std::string>()).second) {
                    dup.duplicate = true;
                }
            }
            return true;
        };
        const Json root = Json::parse(text.begin(), text.end(), callback, /*allow_exceptions=*/false);
        if (root.is_discarded()) {
            result.error = "not valid JSON";
            return result;
        }
        if (dup.duplicate) {
            result.error = "a top-level member is given twice";
            return result;
        }
        ParsedState state;
        if (root.is_object()) {
            const auto params = root.find("params");
            const auto fields = root.find("fields");
            if (params == root.end()) {
                result.error = "missing \"params\"";
                return result;
            }
            if (fields == root.end()) {
                result.error = "missing \"fields\"";
                return result;
            }
            const auto version = root.find("version");
            const Json* version_ptr = version == root.end() ? nullptr : &*version;
            if (!read_parts(version_ptr, *params, *fields, state, result.error)) {
                return result;
            }
        } else if (root.is_array()) {
            if (root.size() != 3) {
                result.error = "a state array must hold exactly version, params and fields";
                return result;
            }
            if (!read_parts(&root[0], root[1], root[2], state, result.error)) {
                return result;
            }
        } else {
            result.error = "a state is a JSON object";
            return result;
        }
        result.state = std::move(state);
    } catch (const std::exception& e) {
        result.state.reset();
        result.error = e.what();
    } catch (...) {
        result.state.reset();
        result.error = "unexpected failure while reading the state";
    }
    return result;
}

void apply_state(Params& params, const ParsedState& state) {
    const std::vector<ParamMapEntry> map = params.param_map();
    for (const auto& [id, value] : state.params) {
        const ParamMapEntry* entry = find_param_entry(map, id);
        if (entry == nullptr) {
            continue; // not one of ours
        }
        Param* param = entry->param;
        if (const auto* f = std::get_if<StateF32>(&value)) {
            if (auto* fp = dynamic_cast<FloatParam*>(param); fp != nullptr && f->value) {
                fp->set_plain_value(*f->value);
            }
        } else if (const auto* i = std::get_if<StateI32>(&value)) {
            if (auto* ip = dynamic_cast<IntParam*>(param)) {
                ip->set_plain_value(i->value);
            } else if (auto* ep = dynamic_cast<EnumParam*>(param)) {
                ep->set_plain_value(i->value);
            }
        } else if (const auto* b = std::get_if<StateBool>(&value)) {
            if (auto* bp = dynamic_cast<BoolParam*>(param)) {
                bp->set_plain_value(b->value);
            }
        }
        // StateString: selects a variant by stable id; no enumeration here has
        // such ids, so there is nothing to select.
    }
    params.deserialize_fields(state.fields);
}

bool load_state_json(Params& params, std::string_view text) {
    const StateParseResult parsed = parse_state_json(text);
    if (!parsed.state) {
        return false;
    }
    apply_state(params, *parsed.state);
    return true;
}

} // namespace plugin_kit
