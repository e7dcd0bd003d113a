#include "plugin_kit/params/host_info.hpp"
#include "plugin_kit/params/param_id.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace plugin_kit;

// One parameter of each kind, built the way a plug-in would.
struct KindSet final : Params {
    FloatParam gain{"Gain", 0.0f, FloatRange::linear(-24.0f, 12.0f), [] {
                        FloatParamOptions o;
                        o.unit = " dB";
                        o.value_to_string = formatters::v2s_rounded(1);
                        return o;
                    }()};
    IntParam count{"Count", 4, IntRange{2, 16}, IntParamOptions{" x"}};
    BoolParam enable{"Enable", false};
    EnumParam division{"Division", 1, {"1/4", "1/8", "1/16", "1/32"}};
    std::vector<ParamMapEntry> param_map() override {
        return {{"gain", &gain, ""}, {"count", &count, ""}, {"enable", &enable, ""}, {"division", &division, ""}};
    }
};

TEST(HostInfo, ClapFactsPerKind) {
    KindSet set;
    struct Expected {
        bool stepped;
        double max_value;
        double default_value;
    };
    const Expected expected[] = {
        {false, 1.0, 2.0 / 3.0},  // float: its normalised default (as a float)
        {true, 14.0, 2.0},        // 1/7 x 14 lands on the whole step
        {true, 1.0, 0.0},
        {true, 3.0, 1.0},
    };
    const std::vector<ParamMapEntry> map = set.param_map();
    for (std::size_t i = 0; i < map.size(); ++i) {
        const ClapParamFacts facts = clap_param_facts(map[i]);
        EXPECT_EQ(facts.id, param_id_hash(map[i].id));
        EXPECT_EQ(facts.name, map[i].param->name());
        EXPECT_TRUE(facts.module.empty());
        EXPECT_EQ(facts.min_value, 0.0);
        EXPECT_EQ(facts.stepped, expected[i].stepped) << map[i].id;
        EXPECT_EQ(facts.max_value, expected[i].max_value) << map[i].id;
        EXPECT_FLOAT_EQ(static_cast<float>(facts.default_value), static_cast<float>(expected[i].default_value))
            << map[i].id;
        if (facts.stepped) {
            EXPECT_EQ(facts.default_value, expected[i].default_value) << map[i].id << " must be a whole step";
        }
    }
}

TEST(HostInfo, Vst3FactsPerKind) {
    KindSet set;
    const std::vector<ParamMapEntry> map = set.param_map();
    const std::string_view units[] = {" dB", " x", "", ""};
    const int32_t steps[] = {0, 14, 1, 3};
    for (std::size_t i = 0; i < map.size(); ++i) {
        const Vst3ParamFacts facts = vst3_param_facts(map[i]);
        EXPECT_EQ(facts.id, param_id_hash(map[i].id));
        EXPECT_EQ(facts.title, map[i].param->name());
        EXPECT_EQ(facts.short_title, map[i].param->name());
        EXPECT_EQ(facts.units, units[i]) << map[i].id;
        EXPECT_EQ(facts.step_count, steps[i]) << map[i].id;
        EXPECT_EQ(facts.default_normalized, static_cast<double>(map[i].param->default_normalized_value()));
        EXPECT_EQ(facts.unit_id, 0);
    }
}

TEST(HostInfo, ClapValuesTravelAsSteps) {
    KindSet set;
    // Every step of every stepped parameter survives the trip host -> normalised -> host.
    for (Param* p : {static_cast<Param*>(&set.count), static_cast<Param*>(&set.enable),
                     static_cast<Param*>(&set.division)}) {
        for (uint32_t step = 0; step <= p->step_count(); ++step) {
            const double clap = static_cast<double>(step);
            p->set_normalized_value(normalized_from_clap_value(*p, clap));
            EXPECT_EQ(clap_value_from_normalized(*p, p->normalized_value()), clap) << p->name() << " " << step;
        }
    }
    EXPECT_EQ(set.division.value(), 3);
    EXPECT_EQ(set.count.value(), 16);

    // A boolean at exactly half a step is off, for the value and for the host.
    EXPECT_EQ(clap_value_from_normalized(set.enable, 0.5f), 0.0);
    EXPECT_EQ(normalized_from_clap_value(set.division, 99.0), 1.0f);
    EXPECT_EQ(normalized_from_clap_value(set.division, -1.0), 0.0f);
    EXPECT_EQ(clap_value_from_normalized(set.gain, 0.25f), 0.25);
}

TEST(HostInfo, TextsPerFormat) {
    KindSet set;
    EXPECT_EQ(clap_value_to_text(set.gain, 0.5), "-6.0 dB");
    EXPECT_EQ(vst3_value_to_text(set.gain, 0.5), "-6.0");
    EXPECT_EQ(clap_value_to_text(set.division, 2.0), "1/16");
    EXPECT_EQ(vst3_value_to_text(set.division, 2.0 / 3.0), "1/16");
    EXPECT_EQ(clap_value_to_text(set.count, 7.0), "9 x");
    EXPECT_EQ(clap_text_to_value(set.division, "1/32"), 3.0);
    EXPECT_EQ(clap_text_to_value(set.division, "1/64"), std::nullopt);
    EXPECT_EQ(clap_text_to_value(set.enable, "TRUE"), 1.0);
    EXPECT_EQ(vst3_text_to_normalized(set.gain, "12 dB"), 1.0);
    EXPECT_EQ(vst3_text_to_normalized(set.gain, "nan dB"), std::nullopt);
}

} // namespace
