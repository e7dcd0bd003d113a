#include "tools/render/render_host.hpp"

#include "plugin/params/tessellgrove_params.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace tessellgrove::render {
namespace {

TEST(LinkedHost, ListsTheParametersInThePluginsOrder) {
    const auto host = make_linked_host();
    const auto infos = host->param_infos();
    ASSERT_EQ(infos.size(), param_ids.size());
    for (std::size_t i = 0; i < infos.size(); ++i) {
        EXPECT_EQ(infos[i].id, param_ids[i]);
        EXPECT_FALSE(infos[i].name.empty());
        EXPECT_LE(infos[i].min, infos[i].default_value) << infos[i].id;
        EXPECT_GE(infos[i].max, infos[i].default_value) << infos[i].id;
    }
}

struct TextCase {
    std::string id;
    std::string typed;
    std::string shown; // display text afterwards, with unit
};

class LinkedHostText : public ::testing::TestWithParam<TextCase> {};

TEST_P(LinkedHostText, TypedTextGoesThroughTheParametersOwnParser) {
    const auto host = make_linked_host();
    const TextCase& c = GetParam();
    EXPECT_EQ(host->set_param_text(c.id, c.typed), std::nullopt);
    EXPECT_EQ(host->param_text(c.id), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    LinkedHost, LinkedHostText,
    ::testing::Values(TextCase{"mix", "75%", "75 %"}, TextCase{"mix", " 75 % ", "75 %"},
                      TextCase{"lock_freq", "440 Hz", "440 Hz"}, TextCase{"lock_freq", "1200", "1.2 kHz"},
                      TextCase{"char_mode", "Fold", "Fold"}, TextCase{"lock_motion_enable", "on", "On"},
                      TextCase{"lock_motion_rate", "1/8T", "1/8T"}, TextCase{"swarm_count", "+5", "5"},
                      TextCase{"input_gain", "-3.25", "-3.3 dB"}));

TEST(LinkedHost, RejectsUnknownIdsBadTextsAndOutOfRangeNormalisedValues) {
    const auto host = make_linked_host();
    const auto unknown = host->set_param_text("volume", "1");
    ASSERT_TRUE(unknown);
    EXPECT_NE(unknown->find("'volume'"), std::string::npos);

    const auto banana = host->set_param_text("mix", "banana");
    ASSERT_TRUE(banana);
    EXPECT_NE(banana->find("'mix'"), std::string::npos);
    EXPECT_NE(banana->find("'banana'"), std::string::npos);
    EXPECT_EQ(host->param_text("mix"), "50 %"); // unchanged

    for (const double bad : {-0.1, 1.5, std::nan("")}) {
        EXPECT_TRUE(host->set_param_normalised("mix", bad)) << bad;
    }
    EXPECT_EQ(host->param_text("mix"), "50 %");
    EXPECT_EQ(host->set_param_normalised("mix", 1.0), std::nullopt);
    EXPECT_EQ(host->param_text("mix"), "100 %");
}

} // namespace
} // namespace tessellgrove::render
