#pragma once
// A plug-in's user interface seen from the framework: the object the
// adapters open inside a host window and tell about parameter changes.
// Format-neutral; the CLAP adapter drives it through the gui extension, the
// VST3 adapter wraps it in an IPlugView.
//
// Threads: every call comes from the host's main thread (the adapters never
// call an editor from the audio thread).

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace plugin_kit {

// Logical size of an editor, in pixels.
struct EditorSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// What the host offers an open editor: parameter gestures performed the way
// the format wants them (CLAP output events, VST3 component-handler calls).
// Callable from any non-real-time thread of the editor; the adapter moves the
// work to the thread its format requires. Valid while the adapter lives.
class GuiContext {
public:
    virtual ~GuiContext() = default;
    // Start of a user gesture on parameter `id` (text id).
    virtual void begin_edit(std::string_view id) = 0;
    // A new normalised value within a gesture; clamped to 0..1.
    virtual void set_value(std::string_view id, float normalized) = 0;
    // End of the gesture on `id`.
    virtual void end_edit(std::string_view id) = 0;

    // The host's main loop, where the format offers one to plug-ins: from
    // now on `on_readable` runs on the host's main thread whenever `fd` is
    // readable, and `on_tick` every `period_ms`. False when not offered (the
    // editor then serves `fd` from a thread of its own). Main thread.
    virtual bool watch(int fd, uint32_t period_ms, std::function<void()> on_readable, std::function<void()> on_tick) {
        (void)fd;
        (void)period_ms;
        (void)on_readable;
        (void)on_tick;
        return false;
    }
    // Ends what `watch` started. Main thread.
    virtual void unwatch() {}
};

// The host window an editor opens in.
struct ParentWindow {
    enum class Api { X11 };
    Api api = Api::X11;
    uint64_t handle = 0; // X11: the window id to embed into
    std::shared_ptr<GuiContext> context; // the host's gesture path; null when the adapter offers none
};

// An open editor. Destroying the handle closes the editor.
class EditorHandle {
public:
    virtual ~EditorHandle() = default;
};

// A plug-in's editor. One per instance, asked for once right after the
// instance is built, opened and closed any number of times.
class Editor {
public:
    virtual ~Editor() = default;

    // Opens the editor inside `parent`; nullptr when it cannot be opened.
    virtual std::unique_ptr<EditorHandle> spawn(const ParentWindow& parent) = 0;
    // Fixed logical size.
    virtual EditorSize size() const = 0;
    // The host's content scale; false when refused.
    virtual bool set_scale_factor(float factor) = 0;
    // The host changed one parameter (text id, normalised value).
    virtual void param_value_changed(std::string_view id, float normalized) = 0;
    // The host's modulation of one parameter changed (normalised offset).
    virtual void param_modulation_changed(std::string_view id, float modulation_offset) = 0;
    // Any number of parameter values changed at once (after a state load).
    virtual void param_values_changed() = 0;
};

// An editor that creates no window: opening succeeds and returns a handle,
// the size is fixed, notifications are counted. It stands in for plug-ins
// without an editor of their own and lets tests see what the adapters told it.
class NoWindowEditor final : public Editor {
public:
    explicit NoWindowEditor(EditorSize size) noexcept : size_(size) {}

    std::unique_ptr<EditorHandle> spawn(const ParentWindow& parent) override;
    EditorSize size() const override { return size_; }
    bool set_scale_factor(float factor) override;
    void param_value_changed(std::string_view id, float normalized) override;
    void param_modulation_changed(std::string_view id, float modulation_offset) override;
    void param_values_changed() override;

    // Handles alive right now.
    uint32_t open_count() const noexcept { return *open_count_; }
    uint32_t value_change_count() const noexcept { return value_change_count_; }
    uint32_t modulation_change_count() const noexcept { return modulation_change_count_; }
    uint32_t values_changed_count() const noexcept { return values_changed_count_; }
    float scale_factor() const noexcept { return scale_factor_; }

private:
    EditorSize size_;
    // Shared with the handles so a handle outliving the editor stays safe.
    std::shared_ptr<uint32_t> open_count_ = std::make_shared<uint32_t>(0);
    uint32_t value_change_count_ = 0;
    uint32_t modulation_change_count_ = 0;
    uint32_t values_changed_count_ = 0;
    float scale_factor_ = 1.0f;
};

} // namespace plugin_kit
