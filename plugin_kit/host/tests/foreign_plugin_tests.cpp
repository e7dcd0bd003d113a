// The host driving plug-ins it did not come with: Debian's zam-plugins
// (DPF-based) in CLAP and VST3 form. Each test skips when the file is absent.

#include "plugin_kit/host/clap_host.hpp"
#include "plugin_kit/host/vst3_host.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

namespace plugin_kit::host {
namespace {

struct ForeignCase {
    const char* path;
    PluginFormat format;
};

std::string case_name(const ::testing::TestParamInfo<ForeignCase>& info) {
    std::string name = std::filesystem::path(info.param.path).stem().string();
    return name + "_" + std::string(format_name(info.param.format));
}

class ForeignPlugin : public ::testing::TestWithParam<ForeignCase> {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(GetParam().path)) {
            GTEST_SKIP() << GetParam().path << " is not installed (Debian package zam-plugins)";
        }
    }
    std::unique_ptr<HostedPlugin> load() const {
        LoadResult loaded = load_plugin(GetParam().path, GetParam().format);
        EXPECT_TRUE(loaded.plugin) << loaded.error;
        return std::move(loaded.plugin);
    }
};

// A writable continuous parameter (not a switch, program list or meter).
const HostParamInfo* first_control(const std::vector<HostParamInfo>& params) {
    for (const HostParamInfo& p : params) {
        if (!p.read_only && !p.is_bypass && p.step_count == 0 && p.max > p.min) {
            return &p;
        }
    }
    return nullptr;
}

TEST_P(ForeignPlugin, ListsParametersWithTextsBothWays) {
    const auto plugin = load();
    ASSERT_TRUE(plugin);
    const auto params = plugin->params();
    ASSERT_FALSE(params.empty());
    for (const HostParamInfo& p : params) {
        EXPECT_FALSE(p.name.empty()) << p.id;
        EXPECT_LE(p.min, p.default_value) << p.name;
        EXPECT_GE(p.max, p.default_value) << p.name;
        const auto value = plugin->param_value(p.id);
        ASSERT_TRUE(value) << p.name;
        EXPECT_TRUE(plugin->value_to_text(p.id, *value)) << p.name;
    }
    const HostParamInfo* control = first_control(params);
    ASSERT_NE(control, nullptr);
    const auto text = plugin->value_to_text(control->id, control->default_value);
    ASSERT_TRUE(text);
    // The plug-in reads its own text of the default back (to within display rounding).
    if (const auto back = plugin->text_to_value(control->id, *text)) {
        EXPECT_NEAR(*back, control->default_value, 0.02 * (control->max - control->min)) << *text;
    }
}

TEST_P(ForeignPlugin, ProcessesASineIntoFiniteAudibleOutput) {
    const auto plugin = load();
    ASSERT_TRUE(plugin);
    constexpr uint32_t block = 256;
    ASSERT_TRUE(plugin->activate(48000.0, block));
    std::vector<float> in_l(block), in_r(block), out_l(block), out_r(block);
    float* ins[] = {in_l.data(), in_r.data()};
    float* outs[] = {out_l.data(), out_r.data()};
    double energy = 0.0;
    uint32_t phase = 0;
    for (int b = 0; b < 40; ++b) {
        for (uint32_t i = 0; i < block; ++i, ++phase) {
            in_l[i] = in_r[i] = 0.25f * std::sin(2.0f * std::numbers::pi_v<float> * 440.0f * static_cast<float>(phase) / 48000.0f);
        }
        ASSERT_TRUE(plugin->process(ins, outs, block, HostTransport{true, 120.0}));
        for (uint32_t i = 0; i < block; ++i) {
            ASSERT_TRUE(std::isfinite(out_l[i]) && std::isfinite(out_r[i]));
            energy += static_cast<double>(out_l[i]) * out_l[i] + static_cast<double>(out_r[i]) * out_r[i];
        }
    }
    EXPECT_GT(energy, 1.0); // a compressor passes a -12 dBFS sine
    plugin->deactivate();
}

TEST_P(ForeignPlugin, StateCarriesAChangedParameterIntoANewInstance) {
    const auto first = load();
    ASSERT_TRUE(first);
    if (auto* clap = dynamic_cast<ClapHostedPlugin*>(first.get());
        clap != nullptr && clap->extension(clap_abi::CLAP_EXT_STATE) == nullptr) {
        GTEST_SKIP() << "the plug-in keeps no CLAP state";
    }
    const std::vector<HostParamInfo> params = first->params();
    const HostParamInfo* control = first_control(params);
    ASSERT_NE(control, nullptr);
    const uint32_t id = control->id;
    const double target = control->min + 0.75 * (control->max - control->min);
    ASSERT_TRUE(first->set_param(id, target));
    // DPF plug-ins keep parameter values on the processor: run one block.
    ASSERT_TRUE(first->activate(44100.0, 64));
    std::vector<float> l(64, 0.0f), r(64, 0.0f);
    float* io[] = {l.data(), r.data()};
    ASSERT_TRUE(first->process(io, io, 64, {}));
    first->deactivate();
    // Whole-buffer streams: DPF's state code expects every byte in one call.
    const auto saved = first->save_state();
    ASSERT_TRUE(saved);
    ASSERT_FALSE(saved->empty());

    const auto second = load();
    ASSERT_TRUE(second);
    const auto before = second->param_value(id);
    ASSERT_TRUE(second->load_state(*saved));
    const auto after = second->param_value(id);
    ASSERT_TRUE(before && after);
    EXPECT_NE(*before, *after);
    EXPECT_NEAR(*after, *first->param_value(id), 1e-6 * (control->max - control->min + 1.0));
    const auto saved_again = second->save_state();
    ASSERT_TRUE(saved_again);
    EXPECT_EQ(*saved_again, *saved);
}

INSTANTIATE_TEST_SUITE_P(ZamPlugins, ForeignPlugin,
                         ::testing::Values(ForeignCase{"/usr/lib/clap/ZamCompX2.clap", PluginFormat::Clap},
                                           ForeignCase{"/usr/lib/vst3/ZamCompX2.vst3/Contents/x86_64-linux/ZamCompX2.so",
                                                       PluginFormat::Vst3},
                                           ForeignCase{"/usr/lib/clap/ZamEQ2.clap", PluginFormat::Clap}),
                         case_name);

} // namespace
} // namespace plugin_kit::host
