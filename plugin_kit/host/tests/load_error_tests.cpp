// What the host answers for files that are not the plug-in it was asked to load.

#include "plugin_kit/host/hosted_plugin.hpp"
#include "plugin_kit/host/vst3_host.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace plugin_kit::host {
namespace {

struct LoadErrorCase {
    std::string name;
    std::string path;
    PluginFormat format;
    std::string plugin_id;
    std::string expected; // part of the error text
};

class LoadError : public ::testing::TestWithParam<LoadErrorCase> {};

TEST_P(LoadError, IsAnErrorTextNotACrash) {
    const LoadErrorCase& c = GetParam();
    if (c.path.starts_with("/usr/lib/") && !std::filesystem::exists(c.path)) {
        GTEST_SKIP() << c.path << " is not installed";
    }
    const LoadResult result = load_plugin(c.path, c.format, c.plugin_id);
    EXPECT_FALSE(result.plugin);
    EXPECT_NE(result.error.find(c.expected), std::string::npos) << result.error;
}

const std::string zam_clap = "/usr/lib/clap/ZamCompX2.clap";
const std::string zam_vst3 = "/usr/lib/vst3/ZamCompX2.vst3/Contents/x86_64-linux/ZamCompX2.so";

INSTANTIATE_TEST_SUITE_P(
    Host, LoadError,
    ::testing::Values(
        LoadErrorCase{"MissingFile", "/nonexistent/plugin.so", PluginFormat::Clap, "", "plugin.so"},
        LoadErrorCase{"CMathIsNoClapPlugin", "libm.so.6", PluginFormat::Clap, "", "has no clap_entry"},
        LoadErrorCase{"CMathIsNoVst3Module", "libm.so.6", PluginFormat::Vst3, "", "has no GetPluginFactory"},
        LoadErrorCase{"ClapFileAsVst3", zam_clap, PluginFormat::Vst3, "", "has no GetPluginFactory"},
        LoadErrorCase{"Vst3FileAsClap", zam_vst3, PluginFormat::Clap, "", "has no clap_entry"},
        LoadErrorCase{"UnknownVst3Class", zam_vst3, PluginFormat::Vst3, "000102030405060708090A0B0C0D0E0F",
                      "did not create"},
        LoadErrorCase{"MalformedVst3Class", zam_vst3, PluginFormat::Vst3, "CorTessellgrove", "32 hexadecimal"}),
    [](const auto& test_info) { return test_info.param.name; });

TEST(ParseUid, ReadsExactly32HexDigits) {
    const auto uid = parse_uid("436f7254657373656c6c67726f766500");
    ASSERT_TRUE(uid);
    EXPECT_EQ((*uid)[0], 'C');
    EXPECT_EQ((*uid)[14], 'e');
    EXPECT_EQ((*uid)[15], 0);
    for (const char* bad : {"", "436f7254657373656c6c67726f7665", "436f7254657373656c6c67726f76650g",
                            "436f7254657373656c6c67726f76650000"}) {
        EXPECT_FALSE(parse_uid(bad)) << bad;
    }
}

} // namespace
} // namespace plugin_kit::host
