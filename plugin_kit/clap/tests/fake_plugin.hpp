#pragma once
// A small Plugin for adapter tests: four parameters of the four kinds, an
// audio callback that scales every sample by `gain`, an editor that records
// what it is told, and a log of the calls both receive.

#include "plugin_kit/params/params.hpp"
#include "plugin_kit/plugin/editor.hpp"
#include "plugin_kit/plugin/plugin.hpp"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace clap_test {

struct FakeParams final : plugin_kit::Params {
    plugin_kit::FloatParam gain{"Gain", 0.5f, plugin_kit::FloatRange::linear(0.0f, 1.0f), {" x", {}, {}, false}};
    plugin_kit::IntParam steps{"Steps", 2, plugin_kit::IntRange{0, 4}};
    plugin_kit::BoolParam toggle{"Toggle", false};
    plugin_kit::EnumParam choice{"Choice", 1, {"A", "B", "C"}};

    std::vector<plugin_kit::ParamMapEntry> param_map() override {
        return {{"gain", &gain, ""}, {"steps", &steps, ""}, {"toggle", &toggle, ""}, {"choice", &choice, ""}};
    }
};

// What one process call saw.
struct ProcessCall {
    uint32_t frames = 0;
    bool playing = false;
    std::optional<double> tempo;
    float gain = 0.0f;
};

// Shared with the test so it outlives the instance the adapter destroys.
struct FakeLog {
    std::string calls;          // "init(48000) reset process deactivate ..."
    std::vector<ProcessCall> process;
    bool offer_editor = true;   // whether the plug-in's editor hook answers one
    int editor_requests = 0;
    std::vector<std::string> editor; // "spawn(42)", "close", "scale(2)", "value(gain,0.25)", "mod(gain,0.2)", "values"
    std::shared_ptr<plugin_kit::GuiContext> context; // the gesture path the last spawn was given
};

// Records every call in the log; 900 x 600.
class RecordingEditor final : public plugin_kit::Editor {
public:
    explicit RecordingEditor(std::shared_ptr<FakeLog> log) : log_(std::move(log)) {}

    std::unique_ptr<plugin_kit::EditorHandle> spawn(const plugin_kit::ParentWindow& parent) override {
        log_->editor.push_back("spawn(" + std::to_string(parent.handle) + ")");
        log_->context = parent.context;
        return std::make_unique<Handle>(log_);
    }
    plugin_kit::EditorSize size() const override { return {900, 600}; }
    bool set_scale_factor(float factor) override {
        log_->editor.push_back("scale(" + number(factor) + ")");
        return true;
    }
    void param_value_changed(std::string_view id, float normalized) override {
        log_->editor.push_back("value(" + std::string(id) + "," + number(normalized) + ")");
    }
    void param_modulation_changed(std::string_view id, float offset) override {
        log_->editor.push_back("mod(" + std::string(id) + "," + number(offset) + ")");
    }
    void param_values_changed() override { log_->editor.push_back("values"); }

private:
    struct Handle final : plugin_kit::EditorHandle {
        explicit Handle(std::shared_ptr<FakeLog> shared_log) : log(std::move(shared_log)) {}
        ~Handle() override { log->editor.push_back("close"); }
        std::shared_ptr<FakeLog> log;
    };
    static std::string number(float v) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
        return text;
    }
    std::shared_ptr<FakeLog> log_;
};

class FakePlugin final : public plugin_kit::Plugin {
public:
    explicit FakePlugin(std::shared_ptr<FakeLog> log) : log_(std::move(log)) {}

    std::shared_ptr<plugin_kit::Params> params() const override { return params_; }
    std::unique_ptr<plugin_kit::Editor> editor() override {
        ++log_->editor_requests;
        if (!log_->offer_editor) {
            return nullptr;
        }
        return std::make_unique<RecordingEditor>(log_);
    }
    bool initialize(const plugin_kit::AudioIOLayout&, const plugin_kit::BufferConfig& config) override {
        log_->calls += "init(" + std::to_string(static_cast<int>(config.sample_rate)) + ") ";
        return true;
    }
    void reset() override { log_->calls += "reset "; }
    void deactivate() override { log_->calls += "deactivate "; }
    plugin_kit::ProcessStatus process(plugin_kit::AudioBuffer& buffer,
                                      const plugin_kit::Transport& transport) override {
        const float g = params_->gain.value();
        log_->calls += "process ";
        log_->process.push_back({buffer.frame_count, transport.playing, transport.tempo, g});
        for (float* channel : buffer.channels) {
            for (uint32_t i = 0; i < buffer.frame_count; ++i) {
                channel[i] *= g;
            }
        }
        return plugin_kit::ProcessStatus::Normal;
    }

    FakeParams& fake_params() { return *params_; }

private:
    std::shared_ptr<FakeLog> log_;
    std::shared_ptr<FakeParams> params_ = std::make_shared<FakeParams>();
};

} // namespace clap_test
