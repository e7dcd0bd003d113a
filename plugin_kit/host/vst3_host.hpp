#pragma once
// The VST3 side of the in-repo host: a loaded VST3 module (ModuleEntry,
// GetPluginFactory, ModuleExit) and one instance driven through IComponent,
// IAudioProcessor and IEditController (the same object, or a separate
// controller created from the component's controller class id), with the
// host's own IBStream, IParameterChanges, IComponentHandler and
// IHostApplication objects.

#include "plugin_kit/abi/vst3/base.hpp"
#include "plugin_kit/abi/vst3/vst.hpp"
#include "plugin_kit/host/hosted_plugin.hpp"
#include "plugin_kit/host/shared_library.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plugin_kit::host {

// A VST3 module whose ModuleEntry succeeded, with its factory. The factory
// is released and ModuleExit called when the last owner goes.
class Vst3Library {
public:
    static std::shared_ptr<Vst3Library> open(const std::string& path, std::string& error);

    ~Vst3Library();
    Vst3Library(const Vst3Library&) = delete;
    Vst3Library& operator=(const Vst3Library&) = delete;

    // The factory as returned by GetPluginFactory; only its IPluginFactory
    // entries are safe to call unless `factory3()` is non-null.
    vst3_abi::IPluginFactory3* factory() const noexcept { return factory_; }
    // The same factory asked for IPluginFactory3, or nullptr.
    vst3_abi::IPluginFactory3* factory3() const noexcept { return factory3_; }
    // Plain class records, in the factory's order.
    std::vector<vst3_abi::PClassInfo> classes() const;

private:
    Vst3Library(std::shared_ptr<SharedLibrary> library, vst3_abi::IPluginFactory3* factory) noexcept;

    std::shared_ptr<SharedLibrary> library_;
    vst3_abi::IPluginFactory3* factory_;
    vst3_abi::IPluginFactory3* factory3_ = nullptr;
};

// Parses 32 hexadecimal digits into a class id.
std::optional<vst3_abi::Uid> parse_uid(std::string_view hex) noexcept;

// One VST3 instance: component initialised with the host context, processor
// and controller found, controller synchronised with the component state.
class Vst3HostedPlugin final : public HostedPlugin {
public:
    // Creates the class `class_id` (the first "Audio Module Class" when
    // absent). nullptr with `error` filled on any refusal.
    static std::unique_ptr<Vst3HostedPlugin> create(std::shared_ptr<Vst3Library> library,
                                                    std::optional<vst3_abi::Uid> class_id, std::string& error);
    ~Vst3HostedPlugin() override;

    PluginFormat format() const noexcept override { return PluginFormat::Vst3; }
    std::vector<HostParamInfo> params() const override;
    std::optional<double> param_value(uint32_t id) const override;
    std::optional<std::string> value_to_text(uint32_t id, double value) const override;
    std::optional<double> text_to_value(uint32_t id, std::string_view text) const override;
    bool set_param(uint32_t id, double value) override;
    bool set_param_at(uint32_t id, double value, uint32_t offset) override;
    bool activate(double sample_rate, uint32_t max_frames) override;
    bool process(std::span<float* const> inputs, std::span<float* const> outputs, uint32_t frames,
                 const HostTransport& transport) override;
    void deactivate() override;
    std::optional<std::string> save_state(StreamPieces pieces = {}) override;
    bool load_state(std::string_view bytes, StreamPieces pieces = {}) override;

    // How the buses of a block without audio look.
    enum class NoAudio { NoBuses, ZeroChannels };
    // A block of `frames` frames without audio buffers (null bus arrays, or
    // buses of zero channels), carrying the waiting parameter changes: what
    // hosts send to flush changes. Sent whether or not processing; the
    // plug-in's answer is returned.
    vst3_abi::tresult process_without_audio(uint32_t frames, NoAudio buses, HostTransport transport = {});

    // Interface pointers, for tests.
    void* component() const noexcept { return component_; }
    void* processor() const noexcept { return processor_; }
    void* controller() const noexcept { return controller_; }
    bool separate_controller() const noexcept { return separate_controller_; }
    // How often the plug-in asked the host to restart (IComponentHandler).
    int restart_requests() const noexcept;

private:
    struct Impl;
    explicit Vst3HostedPlugin(std::shared_ptr<Vst3Library> library);

    std::shared_ptr<Vst3Library> library_;
    std::unique_ptr<Impl> impl_;
    void* component_ = nullptr;  // IComponent
    void* processor_ = nullptr;  // IAudioProcessor
    void* controller_ = nullptr; // IEditController
    bool separate_controller_ = false;
};

} // namespace plugin_kit::host
