// Including every ABI header here compiles their layout static_asserts; the
// tests check the facts a static_assert cannot state as clearly: the byte
// order of VST3 ids on this platform.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/abi/clap/extensions.hpp"
#include "plugin_kit/abi/clap/process.hpp"
#include "plugin_kit/abi/vst3/base.hpp"
#include "plugin_kit/abi/vst3/gui.hpp"
#include "plugin_kit/abi/vst3/vst.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace plugin_kit::vst3_abi;

struct UidCase {
    const char* name;
    Uid uid;
    uint8_t bytes[16]; // as a Linux host writes them into memory
};

// Bytes as they appear in memory on a non-COM build: each declared 32-bit word
// most significant byte first. (A COM build would swap the first three words'
// byte order, e.g. FUnknown's 0xC0000000 word would not start the second half.)
const UidCase uid_cases[] = {
    {"FUnknown", FUnknown_iid, {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}},
    {"IComponent", IComponent_iid,
     {0xE8, 0x31, 0xFF, 0x31, 0xF2, 0xD5, 0x43, 0x01, 0x92, 0x8E, 0xBB, 0xEE, 0x25, 0x69, 0x78, 0x02}},
    {"IPluginFactory2", IPluginFactory2_iid,
     {0x00, 0x07, 0xB6, 0x50, 0xF2, 0x4B, 0x4C, 0x0B, 0xA4, 0x64, 0xED, 0xB9, 0xF0, 0x0B, 0x2A, 0xBB}},
};

TEST(Vst3Uid, BytesAreMostSignificantFirstPerWord) {
    for (const auto& c : uid_cases) {
        for (size_t i = 0; i < 16; ++i) {
            EXPECT_EQ(c.uid[i], c.bytes[i]) << c.name << " byte " << i;
        }
    }
}

TEST(Vst3Uid, EqualsComparesAllSixteenBytesAndRejectsNull) {
    char tuid[16];
    std::memcpy(tuid, IEditController_iid.data(), 16);
    EXPECT_TRUE(uid_equals(tuid, IEditController_iid));
    for (size_t i = 0; i < 16; ++i) {
        char changed[16];
        std::memcpy(changed, tuid, 16);
        changed[i] = static_cast<char>(changed[i] ^ 0x01);
        EXPECT_FALSE(uid_equals(changed, IEditController_iid)) << "byte " << i;
    }
    EXPECT_FALSE(uid_equals(nullptr, IEditController_iid));
}

} // namespace
