#pragma once
// Host-automatable parameters: float, integer, boolean and enumeration.
//
// Each parameter has a plain value (its own unit: dB, Hz, a count, a variant
// index, a switch) and a normalised value in 0..1 that hosts automate. Both
// are kept twice: the unmodulated value (last set by the host or by a state
// load) and the effective value (unmodulated plus the host's modulation
// offset), which is what readers get.
//
// Threads: values live in std::atomic cells (always lock-free), so any thread
// may read them at any time without a lock. Writers (the plug-in framework)
// are serialised by their caller; a reader sees the old or the new value of
// one cell, with no consistency across cells or parameters.

#include "plugin_kit/params/value_text.hpp"

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plugin_kit {

enum class ParamKind { Float, Int, Bool, Enum };

// Mapping between a float parameter's plain range and 0..1, computed in float.
struct FloatRange {
    enum class Shape { Linear, Skewed };

    Shape shape = Shape::Linear;
    float min = 0.0f;    // lowest plain value
    float max = 1.0f;    // highest plain value, > min
    float factor = 1.0f; // skew exponent (n = linear_n^factor); Skewed only

    // n = (clamp(v) - min) / (max - min).
    static constexpr FloatRange linear(float min, float max) noexcept {
        return FloatRange{Shape::Linear, min, max, 1.0f};
    }
    // n = ((clamp(v) - min) / (max - min))^factor; factor < 1 gives the low
    // end more of the normalised range.
    static constexpr FloatRange skewed(float min, float max, float factor) noexcept {
        return FloatRange{Shape::Skewed, min, max, factor};
    }

    // Plain to normalised; the plain value is limited to the range first.
    float normalize(float plain) const noexcept;
    // Normalised (limited to 0..1 first) to plain.
    float unnormalize(float normalized) const noexcept;
};

// Inclusive integer range, also used for enumeration indices.
struct IntRange {
    int32_t min = 0; // lowest plain value
    int32_t max = 1; // highest plain value, > min

    // (v - min) / (max - min) in float, limited to 0..1.
    float normalize(int32_t plain) const noexcept;
    // min + round_half_away((max - min) * n), n limited to 0..1 first.
    int32_t unnormalize(float normalized) const noexcept;
    // max - min.
    uint32_t step_count() const noexcept;
};

// Presentation of a float parameter.
struct FloatParamOptions {
    std::string unit;              // suffix such as " dB", with its leading blank; may be empty
    FloatToText value_to_string;   // plain value to value text; empty: shortest decimal form
    TextToFloat string_to_value;   // typed text to plain value; empty: trim, strip the unit, read a number
    bool unit_in_value_text = false; // the value text already names its unit (Hz/kHz texts):
                                     // display texts then omit `unit`
};

// Presentation of an integer parameter.
struct IntParamOptions {
    std::string unit; // suffix with its leading blank; may be empty
};

// What every parameter kind offers to the framework, hosts and the editor.
class Param {
public:
    virtual ~Param() = default;
    Param(const Param&) = delete;
    Param& operator=(const Param&) = delete;

    ParamKind kind() const noexcept { return kind_; }
    // Display name shown by hosts ("Input Gain").
    std::string_view name() const noexcept { return name_; }
    // Unit suffix (" dB"), empty for booleans and enumerations.
    std::string_view unit() const noexcept { return unit_; }
    // True when value texts already end in their unit, so display texts add none.
    bool unit_in_value_text() const noexcept { return unit_in_value_text_; }

    // Effective normalised value (unmodulated + modulation offset, in 0..1).
    float normalized_value() const noexcept { return normalized_.load(std::memory_order_relaxed); }
    // Normalised value last set by the host or a state load.
    float unmodulated_normalized_value() const noexcept {
        return unmodulated_normalized_.load(std::memory_order_relaxed);
    }
    // Normalised counterpart of the default plain value.
    float default_normalized_value() const noexcept { return default_normalized_; }
    // Host modulation in normalised units; 0 when none.
    float modulation_offset() const noexcept { return modulation_offset_.load(std::memory_order_relaxed); }
    // Steps between the lowest and highest value; 0 for continuous parameters.
    virtual uint32_t step_count() const noexcept = 0;

    // From the host: unmodulated := clamp(n, 0, 1) and its plain counterpart,
    // effective values recomputed with the current offset. NaN is ignored.
    virtual void set_normalized_value(float normalized) noexcept = 0;
    // Host modulation: effective n = clamp(unmodulated n + offset, 0, 1);
    // an offset of 0 (or NaN) restores the unmodulated values.
    virtual void set_modulation_offset(float offset) noexcept = 0;

    // Text of a normalised value. include_unit = false gives the bare value
    // text (VST3, the editor); true appends the unit unless the value text
    // already carries one (CLAP display text).
    std::string normalized_value_to_string(float normalized, bool include_unit) const;
    // Typed text to a normalised value in 0..1; nullopt when the text is no value.
    virtual std::optional<float> string_to_normalized_value(std::string_view text) const = 0;

protected:
    Param(ParamKind kind, std::string name, std::string unit, bool unit_in_value_text,
          float default_normalized) noexcept;

    // Value text of a normalised value, without the unit.
    virtual std::string value_text(float normalized) const = 0;

    std::atomic<float> unmodulated_normalized_;
    std::atomic<float> normalized_;
    std::atomic<float> modulation_offset_{0.0f};

private:
    ParamKind kind_;
    std::string name_;
    std::string unit_;
    bool unit_in_value_text_;
    float default_normalized_;

    static_assert(std::atomic<float>::is_always_lock_free);
};

// The value-keeping half shared by the four kinds; T is the plain value type.
template <typename T>
class PlainParam : public Param {
public:
    static_assert(std::atomic<T>::is_always_lock_free);

    // Effective plain value (what the engine reads).
    T value() const noexcept { return value_.load(std::memory_order_relaxed); }
    // Plain value last set by the host or a state load.
    T unmodulated_value() const noexcept { return unmodulated_value_.load(std::memory_order_relaxed); }
    T default_value() const noexcept { return default_value_; }

    // Plain counterpart of a normalised value (n limited to 0..1 first).
    virtual T preview_plain(float normalized) const noexcept = 0;
    // Normalised counterpart of a plain value, always in 0..1.
    virtual float preview_normalized(T plain) const noexcept = 0;

    // From a state load: the plain value is stored unchanged (even outside
    // the range), only its normalised value is limited to 0..1. A non-finite
    // float is ignored: it would reach the engine and the host's project state.
    void set_plain_value(T plain) noexcept;
    void set_normalized_value(float normalized) noexcept override;
    void set_modulation_offset(float offset) noexcept override;

protected:
    PlainParam(ParamKind kind, std::string name, std::string unit, bool unit_in_value_text, T default_value,
               float default_normalized) noexcept;

private:
    // Recomputes the effective cells from the unmodulated ones and the offset.
    void update_effective(T unmodulated_plain, float unmodulated_normalized, float offset) noexcept;

    std::atomic<T> unmodulated_value_;
    std::atomic<T> value_;
    T default_value_;
};

extern template class PlainParam<float>;
extern template class PlainParam<int32_t>;
extern template class PlainParam<bool>;

// 32-bit float with a linear or skewed range.
class FloatParam final : public PlainParam<float> {
public:
    FloatParam(std::string name, float default_value, FloatRange range, FloatParamOptions options = {});

    const FloatRange& range() const noexcept { return range_; }
    uint32_t step_count() const noexcept override { return 0; }
    float preview_plain(float normalized) const noexcept override;
    float preview_normalized(float plain) const noexcept override;
    // Value text of a plain value (with the unit when asked, as above).
    std::string plain_value_to_string(float plain, bool include_unit) const;
    std::optional<float> string_to_normalized_value(std::string_view text) const override;

protected:
    std::string value_text(float normalized) const override;

private:
    FloatRange range_;
    FloatToText value_to_string_;
    TextToFloat string_to_value_;
};

// 32-bit signed integer over an inclusive range.
class IntParam final : public PlainParam<int32_t> {
public:
    IntParam(std::string name, int32_t default_value, IntRange range, IntParamOptions options = {});

    const IntRange& range() const noexcept { return range_; }
    uint32_t step_count() const noexcept override { return range_.step_count(); }
    int32_t preview_plain(float normalized) const noexcept override;
    float preview_normalized(int32_t plain) const noexcept override;
    std::optional<float> string_to_normalized_value(std::string_view text) const override;

protected:
    std::string value_text(float normalized) const override;

private:
    IntRange range_;
};

// On/off switch: on when the normalised value is strictly above 0.5.
class BoolParam final : public PlainParam<bool> {
public:
    BoolParam(std::string name, bool default_value);

    uint32_t step_count() const noexcept override { return 1; }
    bool preview_plain(float normalized) const noexcept override;
    float preview_normalized(bool plain) const noexcept override;
    // "on" / "true" in any letter case (after trimming) is on, anything else off.
    std::optional<float> string_to_normalized_value(std::string_view text) const override;

protected:
    std::string value_text(float normalized) const override;
};

// A choice among named variants; the plain value is the variant index.
class EnumParam final : public PlainParam<int32_t> {
public:
    // `variants` must not be empty; `default_index` selects the default.
    EnumParam(std::string name, int32_t default_index, std::vector<std::string> variants);

    std::span<const std::string> variants() const noexcept { return variants_; }
    uint32_t step_count() const noexcept override { return range_.step_count(); }
    int32_t preview_plain(float normalized) const noexcept override;
    float preview_normalized(int32_t plain) const noexcept override;
    // The trimmed text must equal a variant name exactly (letter case included).
    std::optional<float> string_to_normalized_value(std::string_view text) const override;

protected:
    std::string value_text(float normalized) const override;

private:
    std::vector<std::string> variants_;
    IntRange range_;
};

} // namespace plugin_kit
