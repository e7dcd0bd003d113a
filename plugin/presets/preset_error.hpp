#pragma once
// Failure of a preset operation and the small value-or-error result that
// preset functions return instead of throwing.

#include <string>
#include <utility>
#include <variant>

namespace tessellgrove {

// One failed preset operation; `to_string` is the text shown to the user.
class PresetError {
public:
    enum class Kind { Io, Json, NoPresetDirectory };

    // An I/O failure described by `message` ("IO error: {message}").
    static PresetError io(std::string message);
    // An I/O failure from an operating-system error number: the system's
    // message followed by " (os error N)".
    static PresetError io_errno(int error_number);
    // A JSON reading or writing failure ("JSON error: {message}").
    static PresetError json(std::string message);
    // No configuration directory could be found.
    static PresetError no_preset_directory();

    Kind kind() const noexcept { return kind_; }
    // The wrapped message (empty for `NoPresetDirectory`).
    const std::string& message() const noexcept { return message_; }
    // Display text: "IO error: {}", "JSON error: {}" or
    // "Could not find preset directory".
    std::string to_string() const;

    friend bool operator==(const PresetError&, const PresetError&) = default;

private:
    PresetError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind_;
    std::string message_;
};

// The system's text for an error number followed by " (os error N)".
std::string os_error_text(int error_number);

// A value of type T or a PresetError.
template <typename T>
class PresetResult {
public:
    PresetResult(T value) : content_(std::in_place_index<0>, std::move(value)) {}
    PresetResult(PresetError error) : content_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const noexcept { return content_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    // Only valid when has_value().
    T& value() & { return std::get<0>(content_); }
    const T& value() const& { return std::get<0>(content_); }
    T&& value() && { return std::get<0>(std::move(content_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Only valid when !has_value().
    const PresetError& error() const& { return std::get<1>(content_); }

private:
    std::variant<T, PresetError> content_;
};

} // namespace tessellgrove
