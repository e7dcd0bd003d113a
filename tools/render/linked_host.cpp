#include "tools/render/render_host.hpp"

#include "plugin/lib/tessellgrove.hpp"
#include "plugin_kit/params/params.hpp"

#include <cmath>

namespace tessellgrove::render {
namespace {

class LinkedHost final : public RenderHost {
public:
    LinkedHost()
        : plugin_(std::make_unique<Tessellgrove>()), params_(plugin_->params()), map_(params_->param_map()) {}

    std::vector<ParamInfo> param_infos() const override {
        std::vector<ParamInfo> infos;
        infos.reserve(map_.size());
        for (const auto& entry : map_) {
            infos.push_back(describe(entry));
        }
        return infos;
    }

    std::optional<std::string> set_param_text(std::string_view id, std::string_view text) override {
        plugin_kit::Param* param = find(id);
        if (param == nullptr) {
            return unknown_id(id);
        }
        const auto normalised = param->string_to_normalized_value(text);
        if (!normalised) {
            return "parameter '" + std::string(id) + "' does not accept the value '" + std::string(text) + "'";
        }
        param->set_normalized_value(*normalised);
        return std::nullopt;
    }

    std::optional<std::string> set_param_normalised(std::string_view id, double normalised) override {
        plugin_kit::Param* param = find(id);
        if (param == nullptr) {
            return unknown_id(id);
        }
        if (!(normalised >= 0.0 && normalised <= 1.0)) {
            return "normalised value for '" + std::string(id) + "' must be between 0 and 1";
        }
        param->set_normalized_value(static_cast<float>(normalised));
        return std::nullopt;
    }

    std::optional<std::string> param_text(std::string_view id) const override {
        const plugin_kit::ParamMapEntry* entry = plugin_kit::find_param_entry(map_, id);
        if (entry == nullptr) {
            return std::nullopt;
        }
        return entry->param->normalized_value_to_string(entry->param->normalized_value(), true);
    }

    void activate(float sample_rate, uint32_t max_block_size) override {
        plugin_->initialize(plugin_kit::AudioIOLayout{2, 2},
                            plugin_kit::BufferConfig{sample_rate, 1, max_block_size,
                                                     plugin_kit::ProcessMode::Offline});
        plugin_->reset();
    }

    void process(std::span<float* const> channels, uint32_t frames,
                 const plugin_kit::Transport& transport) override {
        plugin_kit::AudioBuffer buffer{channels, frames};
        plugin_->process(buffer, transport);
    }

    void deactivate() override { plugin_->deactivate(); }

private:
    static std::string unknown_id(std::string_view id) {
        return "unknown parameter id '" + std::string(id) + "' (see --list-params)";
    }

    plugin_kit::Param* find(std::string_view id) const {
        const plugin_kit::ParamMapEntry* entry = plugin_kit::find_param_entry(map_, id);
        return entry == nullptr ? nullptr : entry->param;
    }

    static ParamInfo describe(const plugin_kit::ParamMapEntry& entry) {
        const plugin_kit::Param& param = *entry.param;
        ParamInfo info;
        info.id = std::string(entry.id);
        info.name = std::string(param.name());
        info.unit = std::string(param.unit());
        info.default_normalised = static_cast<double>(param.default_normalized_value());
        info.step_count = param.step_count();
        info.min_text = param.normalized_value_to_string(0.0f, true);
        info.max_text = param.normalized_value_to_string(1.0f, true);
        info.default_text = param.normalized_value_to_string(param.default_normalized_value(), true);

        switch (param.kind()) {
        case plugin_kit::ParamKind::Float: {
            const auto& p = static_cast<const plugin_kit::FloatParam&>(param);
            info.kind = "float";
            info.min = static_cast<double>(p.range().min);
            info.max = static_cast<double>(p.range().max);
            info.default_value = static_cast<double>(p.default_value());
            break;
        }
        case plugin_kit::ParamKind::Int: {
            const auto& p = static_cast<const plugin_kit::IntParam&>(param);
            info.kind = "int";
            info.min = p.range().min;
            info.max = p.range().max;
            info.default_value = p.default_value();
            break;
        }
        case plugin_kit::ParamKind::Bool: {
            const auto& p = static_cast<const plugin_kit::BoolParam&>(param);
            info.kind = "bool";
            info.default_value = p.default_value() ? 1.0 : 0.0;
            break;
        }
        case plugin_kit::ParamKind::Enum: {
            const auto& p = static_cast<const plugin_kit::EnumParam&>(param);
            info.kind = "enum";
            info.variants.assign(p.variants().begin(), p.variants().end());
            info.max = static_cast<double>(info.variants.size()) - 1.0;
            info.default_value = p.default_value();
            break;
        }
        }
        return info;
    }

    std::unique_ptr<plugin_kit::Plugin> plugin_;
    std::shared_ptr<plugin_kit::Params> params_;
    std::vector<plugin_kit::ParamMapEntry> map_;
};

} // namespace

std::unique_ptr<RenderHost> make_linked_host() { return std::make_unique<LinkedHost>(); }

} // namespace tessellgrove::render
