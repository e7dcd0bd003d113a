#pragma once
// The CLAP side of the in-repo host: a loaded CLAP library (clap_entry, its
// init/deinit and the plug-in factory) and one plug-in instance driven
// through clap_plugin and its audio-ports, params and state extensions.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/abi/clap/extensions.hpp"
#include "plugin_kit/abi/clap/process.hpp"
#include "plugin_kit/host/hosted_plugin.hpp"
#include "plugin_kit/host/shared_library.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plugin_kit::host {

// A CLAP library whose entry has been initialised; deinitialised and
// unloaded when the last owner (the library handle or an instance) goes.
class ClapLibrary {
public:
    // Loads `path`, finds `clap_entry`, checks its version and calls
    // `init(path)`. nullptr with `error` filled on any failure.
    static std::shared_ptr<ClapLibrary> open(const std::string& path, std::string& error);

    ~ClapLibrary();
    ClapLibrary(const ClapLibrary&) = delete;
    ClapLibrary& operator=(const ClapLibrary&) = delete;

    const clap_abi::clap_plugin_entry& entry() const noexcept { return *entry_; }
    // The plug-in factory ("clap.plugin-factory"), or nullptr.
    const clap_abi::clap_plugin_factory* factory() const noexcept;
    // Every descriptor the factory lists.
    std::vector<const clap_abi::clap_plugin_descriptor*> descriptors() const;

private:
    ClapLibrary(std::shared_ptr<SharedLibrary> library, const clap_abi::clap_plugin_entry* entry) noexcept
        : library_(std::move(library)), entry_(entry) {}

    std::shared_ptr<SharedLibrary> library_;
    const clap_abi::clap_plugin_entry* entry_;
};

// One CLAP plug-in instance, created and initialised; destroyed (after
// deactivation) with this object.
class ClapHostedPlugin final : public HostedPlugin {
public:
    // Creates and initialises `plugin_id` (the first descriptor's id when
    // empty). nullptr with `error` filled when the factory or init refuses.
    static std::unique_ptr<ClapHostedPlugin> create(std::shared_ptr<ClapLibrary> library,
                                                    std::string_view plugin_id, std::string& error);
    ~ClapHostedPlugin() override;

    PluginFormat format() const noexcept override { return PluginFormat::Clap; }
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

    // The raw plug-in object and its extensions, for tests.
    const clap_abi::clap_plugin* plugin() const noexcept { return plugin_; }
    const void* extension(const char* id) const noexcept;
    const ClapLibrary& library() const noexcept { return *library_; }

private:
    struct Impl;
    explicit ClapHostedPlugin(std::shared_ptr<ClapLibrary> library);

    std::shared_ptr<ClapLibrary> library_;
    std::unique_ptr<Impl> impl_;
    const clap_abi::clap_plugin* plugin_ = nullptr;
};

} // namespace plugin_kit::host
