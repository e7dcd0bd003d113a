#pragma once
// A small Plugin for adapter tests: four parameters of the four kinds and an
// audio callback that scales every sample by `gain` and writes a log of the
// calls it receives.

#include "plugin_kit/params/params.hpp"
#include "plugin_kit/plugin/plugin.hpp"

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
};

class FakePlugin final : public plugin_kit::Plugin {
public:
    explicit FakePlugin(std::shared_ptr<FakeLog> log) : log_(std::move(log)) {}

    std::shared_ptr<plugin_kit::Params> params() const override { return params_; }
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
