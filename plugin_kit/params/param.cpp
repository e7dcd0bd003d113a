#include "plugin_kit/params/param.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <type_traits>
#include <utility>

namespace plugin_kit {

namespace {

// Limits a normalised value to 0..1; NaN becomes 0.
float clamp_unit(float n) noexcept {
    if (std::isnan(n)) {
        return 0.0f;
    }
    return std::clamp(n, 0.0f, 1.0f);
}

// Shortest decimal text that reads back to the same float (no locale).
std::string shortest_text(float value) {
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc{}) {
        return {};
    }
    return std::string(buffer, ptr);
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

} // namespace

// --- ranges -----------------------------------------------------------------

float FloatRange::normalize(float plain) const noexcept {
    if (std::isnan(plain) || !(max > min)) {
        return 0.0f;
    }
    const float c = std::clamp(plain, min, max);
    float n = (c - min) / (max - min);
    if (shape == Shape::Skewed) {
        n = std::pow(n, factor);
    }
    return clamp_unit(n);
}

float FloatRange::unnormalize(float normalized) const noexcept {
    const float n = clamp_unit(normalized);
    float plain = min;
    if (shape == Shape::Skewed) {
        plain = min + (max - min) * std::pow(n, 1.0f / factor);
    } else {
        plain = min + n * (max - min);
    }
    // Guards against the last float rounding step landing outside the range.
    return std::clamp(plain, min, max);
}

float IntRange::normalize(int32_t plain) const noexcept {
    if (max <= min) {
        return 0.0f;
    }
    const float n = (static_cast<float>(plain) - static_cast<float>(min)) /
                    (static_cast<float>(max) - static_cast<float>(min));
    return clamp_unit(n);
}

int32_t IntRange::unnormalize(float normalized) const noexcept {
    const float steps = static_cast<float>(step_count());
    const auto offset = static_cast<int64_t>(round_half_away(steps * clamp_unit(normalized)));
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{min} + offset, min, std::max(min, max)));
}

uint32_t IntRange::step_count() const noexcept {
    return max > min ? static_cast<uint32_t>(int64_t{max} - int64_t{min}) : 0u;
}

// --- Param --------------------------------------------------------------------

Param::Param(ParamKind kind, std::string name, std::string unit, bool unit_in_value_text,
             float default_normalized) noexcept
    : unmodulated_normalized_(default_normalized),
      normalized_(default_normalized),
      kind_(kind),
      name_(std::move(name)),
      unit_(std::move(unit)),
      unit_in_value_text_(unit_in_value_text),
      default_normalized_(default_normalized) {}

std::string Param::normalized_value_to_string(float normalized, bool include_unit) const {
    std::string text = value_text(clamp_unit(normalized));
    if (include_unit && !unit_in_value_text_) {
        text += unit_;
    }
    return text;
}

// --- PlainParam ---------------------------------------------------------------

template <typename T>
PlainParam<T>::PlainParam(ParamKind kind, std::string name, std::string unit, bool unit_in_value_text,
                          T default_value, float default_normalized) noexcept
    : Param(kind, std::move(name), std::move(unit), unit_in_value_text, default_normalized),
      unmodulated_value_(default_value),
      value_(default_value),
      default_value_(default_value) {}

template <typename T>
void PlainParam<T>::set_plain_value(T plain) noexcept {
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(plain)) {
            return;
        }
    }
    const float n = preview_normalized(plain);
    unmodulated_value_.store(plain, std::memory_order_relaxed);
    unmodulated_normalized_.store(n, std::memory_order_relaxed);
    update_effective(plain, n, modulation_offset_.load(std::memory_order_relaxed));
}

template <typename T>
void PlainParam<T>::set_normalized_value(float normalized) noexcept {
    if (std::isnan(normalized)) {
        return;
    }
    const float n = clamp_unit(normalized);
    const T plain = preview_plain(n);
    unmodulated_value_.store(plain, std::memory_order_relaxed);
    unmodulated_normalized_.store(n, std::memory_order_relaxed);
    update_effective(plain, n, modulation_offset_.load(std::memory_order_relaxed));
}

template <typename T>
void PlainParam<T>::set_modulation_offset(float offset) noexcept {
    if (std::isnan(offset)) {
        offset = 0.0f;
    }
    modulation_offset_.store(offset, std::memory_order_relaxed);
    update_effective(unmodulated_value_.load(std::memory_order_relaxed),
                     unmodulated_normalized_.load(std::memory_order_relaxed), offset);
}

template <typename T>
void PlainParam<T>::update_effective(T unmodulated_plain, float unmodulated_normalized, float offset) noexcept {
    if (offset == 0.0f) {
        // No modulation: the effective value is the stored one, unchanged
        // (a state load may have stored a plain value outside the range).
        value_.store(unmodulated_plain, std::memory_order_relaxed);
        normalized_.store(unmodulated_normalized, std::memory_order_relaxed);
        return;
    }
    const float n = clamp_unit(unmodulated_normalized + offset);
    value_.store(preview_plain(n), std::memory_order_relaxed);
    normalized_.store(n, std::memory_order_relaxed);
}

template class PlainParam<float>;
template class PlainParam<int32_t>;
template class PlainParam<bool>;

// --- FloatParam ---------------------------------------------------------------

FloatParam::FloatParam(std::string name, float default_value, FloatRange range, FloatParamOptions options)
    : PlainParam(ParamKind::Float, std::move(name), std::move(options.unit), options.unit_in_value_text,
                 default_value, range.normalize(default_value)),
      range_(range),
      value_to_string_(std::move(options.value_to_string)),
      string_to_value_(std::move(options.string_to_value)) {}

float FloatParam::preview_plain(float normalized) const noexcept {
    return range_.unnormalize(normalized);
}

float FloatParam::preview_normalized(float plain) const noexcept {
    return range_.normalize(plain);
}

std::string FloatParam::plain_value_to_string(float plain, bool include_unit) const {
    std::string text = value_to_string_ ? value_to_string_(plain) : shortest_text(plain);
    if (include_unit && !unit_in_value_text()) {
        text += unit();
    }
    return text;
}

std::string FloatParam::value_text(float normalized) const {
    return plain_value_to_string(preview_plain(normalized), false);
}

std::optional<float> FloatParam::string_to_normalized_value(std::string_view text) const {
    std::optional<float> plain;
    if (string_to_value_) {
        plain = string_to_value_(text);
    } else {
        text = trim_white_space(text);
        const std::string_view suffix = unit();
        while (!suffix.empty() && text.ends_with(suffix)) {
            text.remove_suffix(suffix.size());
        }
        plain = parse_decimal_float(text);
    }
    if (!plain || !std::isfinite(*plain)) {
        return std::nullopt;
    }
    return preview_normalized(*plain);
}

// --- IntParam -----------------------------------------------------------------

IntParam::IntParam(std::string name, int32_t default_value, IntRange range, IntParamOptions options)
    : PlainParam(ParamKind::Int, std::move(name), std::move(options.unit), false, default_value,
                 range.normalize(default_value)),
      range_(range) {}

int32_t IntParam::preview_plain(float normalized) const noexcept {
    return range_.unnormalize(normalized);
}

float IntParam::preview_normalized(int32_t plain) const noexcept {
    return range_.normalize(plain);
}

std::string IntParam::value_text(float normalized) const {
    return format_int(preview_plain(normalized));
}

std::optional<float> IntParam::string_to_normalized_value(std::string_view text) const {
    text = trim_white_space(text);
    const std::string_view suffix = unit();
    while (!suffix.empty() && text.ends_with(suffix)) {
        text.remove_suffix(suffix.size());
    }
    const std::optional<int32_t> plain = parse_decimal_int32(text);
    if (!plain) {
        return std::nullopt;
    }
    return preview_normalized(*plain);
}

// --- BoolParam ----------------------------------------------------------------

BoolParam::BoolParam(std::string name, bool default_value)
    : PlainParam(ParamKind::Bool, std::move(name), std::string{}, false, default_value,
                 default_value ? 1.0f : 0.0f) {}

bool BoolParam::preview_plain(float normalized) const noexcept {
    return normalized > 0.5f; // 0.5 itself (and NaN) is off
}

float BoolParam::preview_normalized(bool plain) const noexcept {
    return plain ? 1.0f : 0.0f;
}

std::string BoolParam::value_text(float normalized) const {
    return preview_plain(normalized) ? "On" : "Off";
}

std::optional<float> BoolParam::string_to_normalized_value(std::string_view text) const {
    text = trim_white_space(text);
    const bool on = equals_ignoring_ascii_case(text, "on") || equals_ignoring_ascii_case(text, "true");
    return on ? 1.0f : 0.0f;
}

// --- EnumParam ----------------------------------------------------------------

EnumParam::EnumParam(std::string name, int32_t default_index, std::vector<std::string> variants)
    : PlainParam(ParamKind::Enum, std::move(name), std::string{}, false, default_index,
                 IntRange{0, static_cast<int32_t>(variants.size()) - 1}.normalize(default_index)),
      variants_(std::move(variants)),
      range_{0, static_cast<int32_t>(variants_.size()) - 1} {}

int32_t EnumParam::preview_plain(float normalized) const noexcept {
    return range_.unnormalize(normalized);
}

float EnumParam::preview_normalized(int32_t plain) const noexcept {
    return range_.normalize(plain);
}

std::string EnumParam::value_text(float normalized) const {
    const int32_t index = preview_plain(normalized);
    if (index < 0 || static_cast<std::size_t>(index) >= variants_.size()) {
        return {};
    }
    return variants_[static_cast<std::size_t>(index)];
}

std::optional<float> EnumParam::string_to_normalized_value(std::string_view text) const {
    text = trim_white_space(text);
    const auto it = std::find(variants_.begin(), variants_.end(), text);
    if (it == variants_.end()) {
        return std::nullopt;
    }
    return preview_normalized(static_cast<int32_t>(it - variants_.begin()));
}

} // namespace plugin_kit
