#include "plugin_kit/plugin/editor.hpp"

#include <cmath>

namespace plugin_kit {

namespace {

// Keeps the editor's open count up while it lives.
class NoWindowHandle final : public EditorHandle {
public:
    explicit NoWindowHandle(std::shared_ptr<uint32_t> open_count) noexcept : open_count_(std::move(open_count)) {
        ++*open_count_;
    }
    ~NoWindowHandle() override { --*open_count_; }
    NoWindowHandle(const NoWindowHandle&) = delete;
    NoWindowHandle& operator=(const NoWindowHandle&) = delete;

private:
    std::shared_ptr<uint32_t> open_count_;
};

} // namespace

std::unique_ptr<EditorHandle> NoWindowEditor::spawn(const ParentWindow& parent) {
    (void)parent;
    return std::make_unique<NoWindowHandle>(open_count_);
}

bool NoWindowEditor::set_scale_factor(float factor) {
    if (!std::isfinite(factor) || factor <= 0.0f) {
        return false;
    }
    scale_factor_ = factor;
    return true;
}

void NoWindowEditor::param_value_changed(std::string_view id, float normalized) {
    (void)id;
    (void)normalized;
    ++value_change_count_;
}

void NoWindowEditor::param_modulation_changed(std::string_view id, float modulation_offset) {
    (void)id;
    (void)modulation_offset;
    ++modulation_change_count_;
}

void NoWindowEditor::param_values_changed() { ++values_changed_count_; }

} // namespace plugin_kit
