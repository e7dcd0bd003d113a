#include "tools/render/loaded_host.hpp"

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin_kit/params/param_id.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>

namespace tessellgrove::render {

using plugin_kit::host::HostParamInfo;
using plugin_kit::host::HostedPlugin;
using plugin_kit::host::PluginFormat;

namespace {

// Plain value of a normalised one through the parameter's own mapping.
double known_plain(const plugin_kit::Param& param, float normalised) {
    switch (param.kind()) {
    case plugin_kit::ParamKind::Float:
        return static_cast<double>(static_cast<const plugin_kit::FloatParam&>(param).preview_plain(normalised));
    case plugin_kit::ParamKind::Int:
        return static_cast<const plugin_kit::IntParam&>(param).preview_plain(normalised);
    case plugin_kit::ParamKind::Bool:
        return static_cast<const plugin_kit::BoolParam&>(param).preview_plain(normalised) ? 1.0 : 0.0;
    case plugin_kit::ParamKind::Enum:
        return static_cast<const plugin_kit::EnumParam&>(param).preview_plain(normalised);
    }
    return 0.0;
}

double known_default(const plugin_kit::Param& param) {
    switch (param.kind()) {
    case plugin_kit::ParamKind::Float:
        return static_cast<double>(static_cast<const plugin_kit::FloatParam&>(param).default_value());
    case plugin_kit::ParamKind::Int:
        return static_cast<const plugin_kit::IntParam&>(param).default_value();
    case plugin_kit::ParamKind::Bool:
        return static_cast<const plugin_kit::BoolParam&>(param).default_value() ? 1.0 : 0.0;
    case plugin_kit::ParamKind::Enum:
        return static_cast<const plugin_kit::EnumParam&>(param).default_value();
    }
    return 0.0;
}

const char* kind_name(plugin_kit::ParamKind kind) {
    switch (kind) {
    case plugin_kit::ParamKind::Float:
        return "float";
    case plugin_kit::ParamKind::Int:
        return "int";
    case plugin_kit::ParamKind::Bool:
        return "bool";
    case plugin_kit::ParamKind::Enum:
        return "enum";
    }
    return "float";
}

class LoadedHost final : public RenderHost {
public:
    explicit LoadedHost(std::unique_ptr<HostedPlugin> plugin) : plugin_(std::move(plugin)), infos_(plugin_->params()) {
        // Tessellgrove is recognised by its parameter ids.
        const auto map = known_params_.param_map();
        for (const plugin_kit::ParamMapEntry& entry : map) {
            known_by_id_[plugin_kit::param_id_hash(entry.id)] = entry;
        }
        for (const HostParamInfo& info : infos_) {
            const auto known = known_by_id_.find(info.id);
            names_.push_back(known != known_by_id_.end() ? std::string(known->second.id) : std::to_string(info.id));
        }
    }

    std::vector<ParamInfo> param_infos() const override {
        std::vector<ParamInfo> out;
        for (size_t i = 0; i < infos_.size(); ++i) {
            out.push_back(describe(i));
        }
        return out;
    }

    std::optional<std::string> set_param_text(std::string_view id, std::string_view text) override {
        const auto index = find(id);
        if (!index) {
            return unknown_id(id);
        }
        const auto value = plugin_->text_to_value(infos_[*index].id, text);
        if (!value) {
            return "parameter '" + std::string(id) + "' does not accept the value '" + std::string(text) + "'";
        }
        plugin_->set_param(infos_[*index].id, *value);
        return std::nullopt;
    }

    std::optional<std::string> set_param_normalised(std::string_view id, double normalised) override {
        const auto index = find(id);
        if (!index) {
            return unknown_id(id);
        }
        if (!(normalised >= 0.0 && normalised <= 1.0)) {
            return "normalised value for '" + std::string(id) + "' must be between 0 and 1";
        }
        plugin_->set_param(infos_[*index].id, from_normalised(*index, normalised));
        return std::nullopt;
    }

    std::optional<std::string> param_text(std::string_view id) const override {
        const auto index = find(id);
        if (!index) {
            return std::nullopt;
        }
        const auto value = plugin_->param_value(infos_[*index].id);
        if (!value) {
            return std::nullopt;
        }
        return display_text(*index, *value);
    }

    void activate(float sample_rate, uint32_t max_block_size) override {
        if (!plugin_->activate(static_cast<double>(sample_rate), max_block_size)) {
            throw std::runtime_error("the plug-in refused to activate at " + std::to_string(sample_rate) + " Hz");
        }
    }

    void process(std::span<float* const> channels, uint32_t frames, const plugin_kit::Transport& transport) override {
        // In place on the first two channels; the rest pass through untouched.
        const auto main = channels.first(std::min<size_t>(channels.size(), 2));
        if (main.size() < 2 || !plugin_->process(main, main, frames, {transport.playing, transport.tempo})) {
            throw std::runtime_error("the plug-in reported a processing error");
        }
    }

    void deactivate() override { plugin_->deactivate(); }

    std::optional<std::string> save_state() override { return plugin_->save_state(); }

    bool load_state(std::string_view bytes) override {
        return plugin_->load_state(frame_state(state_text(bytes), plugin_->format()));
    }

private:
    static std::string unknown_id(std::string_view id) {
        return "unknown parameter id '" + std::string(id) + "' (see --list-params)";
    }

    std::optional<size_t> find(std::string_view id) const {
        for (size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == id) {
                return i;
            }
        }
        return std::nullopt;
    }

    const plugin_kit::Param* known(size_t index) const {
        const auto it = known_by_id_.find(infos_[index].id);
        return it == known_by_id_.end() ? nullptr : it->second.param;
    }

    // The format's value for a normalised one. VST3 takes it as it is. CLAP
    // values span the range the plug-in reports; our framework reports
    // continuous parameters as 0..1 and stepped ones as 0..steps, so the
    // linear mapping (rounded for stepped ones) is exact for Tessellgrove
    // and the usual reading for other plug-ins.
    double from_normalised(size_t index, double normalised) const {
        if (plugin_->format() == PluginFormat::Vst3) {
            return normalised;
        }
        const HostParamInfo& info = infos_[index];
        if (info.step_count > 0) {
            return info.min + std::round(normalised * info.step_count) * (info.max - info.min) / info.step_count;
        }
        return info.min + normalised * (info.max - info.min);
    }

    double to_normalised(size_t index, double value) const {
        if (plugin_->format() == PluginFormat::Vst3) {
            return value;
        }
        const HostParamInfo& info = infos_[index];
        return info.max > info.min ? (value - info.min) / (info.max - info.min) : 0.0;
    }

    // What a host shows: CLAP texts carry their unit; VST3 shows the unit
    // beside the value unless the value text already ends in it (Hz / kHz).
    std::string display_text(size_t index, double value) const {
        std::string text = plugin_->value_to_text(infos_[index].id, value).value_or("");
        if (plugin_->format() == PluginFormat::Vst3) {
            const std::string& unit = infos_[index].unit;
            const std::string_view bare = std::string_view(unit).substr(std::min(unit.find_first_not_of(' '), unit.size()));
            if (!bare.empty() && !std::string_view(text).ends_with(bare)) {
                // Our units carry their leading blank; other plug-ins' may not.
                text += unit.front() == ' ' ? unit : " " + unit;
            }
        }
        return text;
    }

    ParamInfo describe(size_t index) const {
        const HostParamInfo& info = infos_[index];
        const plugin_kit::Param* param = known(index);
        ParamInfo out;
        out.id = names_[index];
        out.name = info.name;
        out.step_count = info.step_count;
        const double normalised_default = to_normalised(index, info.default_value);
        out.default_normalised = normalised_default;
        const double format_min = plugin_->format() == PluginFormat::Vst3 ? 0.0 : info.min;
        const double format_max = plugin_->format() == PluginFormat::Vst3 ? 1.0 : info.max;
        out.min_text = display_text(index, format_min);
        out.max_text = display_text(index, format_max);
        out.default_text = display_text(index, info.default_value);
        if (param != nullptr) {
            out.kind = kind_name(param->kind());
            out.unit = std::string(param->unit());
            out.min = known_plain(*param, 0.0f);
            out.max = known_plain(*param, 1.0f);
            out.default_value = known_default(*param);
            if (param->kind() == plugin_kit::ParamKind::Enum) {
                const auto& variants = static_cast<const plugin_kit::EnumParam&>(*param).variants();
                out.variants.assign(variants.begin(), variants.end());
            }
        } else {
            // Another plug-in: plain values are what CLAP reports; VST3 tells
            // only normalised ones.
            out.kind = info.step_count == 0 ? "float" : info.step_count == 1 ? "bool" : "int";
            out.unit = info.unit;
            out.min = format_min;
            out.max = format_max;
            out.default_value = info.default_value;
        }
        return out;
    }

    std::unique_ptr<HostedPlugin> plugin_;
    std::vector<HostParamInfo> infos_;
    std::vector<std::string> names_; // how the command line names each parameter
    TessellgroveParams known_params_; // descriptors only: never reaches the loaded plug-in
    std::map<uint32_t, plugin_kit::ParamMapEntry> known_by_id_;
};

} // namespace

std::unique_ptr<RenderHost> make_loaded_host(const std::string& path, PluginFormat format, std::string& error) {
    plugin_kit::host::LoadResult loaded = plugin_kit::host::load_plugin(path, format);
    if (!loaded.plugin) {
        error = "cannot load " + std::string(plugin_kit::host::format_name(format)) + " plug-in '" + path +
                "': " + loaded.error;
        return nullptr;
    }
    return std::make_unique<LoadedHost>(std::move(loaded.plugin));
}

std::string state_text(std::string_view bytes) {
    if (bytes.size() >= 8) {
        uint64_t length = 0;
        for (size_t i = 0; i < 8; ++i) {
            length |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
        }
        if (length == bytes.size() - 8) {
            return std::string(bytes.substr(8));
        }
    }
    return std::string(bytes);
}

std::string frame_state(std::string_view text, PluginFormat format) {
    if (format == PluginFormat::Vst3) {
        return std::string(text);
    }
    std::string framed(8, '\0');
    const auto length = static_cast<uint64_t>(text.size());
    for (size_t i = 0; i < 8; ++i) {
        framed[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    framed.append(text);
    return framed;
}

} // namespace tessellgrove::render
