#pragma once
// VST3 base ABI: basic types, result codes, interface ids, FUnknown,
// IPluginBase, IBStream and the plug-in factory interfaces with their class
// records.
//
// These are our own declarations of exactly the parts of the published VST3
// interfaces that plugin_kit uses, written as plain C structs of function
// pointers rather than C++ abstract classes. A VST3 object is, in binary
// terms, a pointer to a table of function pointers whose first three entries
// are queryInterface, addRef and release, followed by the entries of each
// base interface in turn and then the interface's own, in declaration order.
// Spelling that table out as a struct makes the order visible and checkable
// (static_asserts on every table size), keeps the compiler's own vtable
// conventions (virtual destructors, thunks) out of the binary contract, and
// lets one object expose several interfaces as sibling sub-objects, each a
// pointer to its own table.
//
// Platform facts for x86-64 Linux: the interface calling convention is the
// default System V one (the standard's PLUGIN_API macro is empty there), the
// records use natural alignment (no packing outside Windows and macOS), and
// the build is not "COM compatible", so a 16-byte id is the four 32-bit words
// of its declaration written most significant byte first (see `inline_uid`).
// Result codes are the small non-COM values below.

#include <array>
#include <cstddef>
#include <cstdint>

namespace plugin_kit::vst3_abi {

using int8 = int8_t;
using uint8 = uint8_t;
using int16 = int16_t;
using uint16 = uint16_t;
using int32 = int32_t;
using uint32 = uint32_t;
using int64 = int64_t;
using uint64 = uint64_t;
using char8 = char;
using char16 = char16_t;
using tresult = int32_t;
using TBool = uint8_t;
using FIDString = const char8*;
using TUID = char[16];

// Result codes of the non-COM build (Linux, macOS).
inline constexpr tresult kNoInterface = -1;
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = kResultOk;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = 2;
inline constexpr tresult kNotImplemented = 3;
inline constexpr tresult kInternalError = 4;
inline constexpr tresult kNotInitialized = 5;
inline constexpr tresult kOutOfMemory = 6;

// A 16-byte interface or class id.
using Uid = std::array<uint8_t, 16>;

// Byte order of an id declared as four 32-bit words on a non-COM build:
// each word most significant byte first, words in order.
constexpr Uid inline_uid(uint32_t l1, uint32_t l2, uint32_t l3, uint32_t l4) noexcept {
    Uid u{};
    const uint32_t words[4] = {l1, l2, l3, l4};
    for (size_t w = 0; w < 4; ++w) {
        for (size_t b = 0; b < 4; ++b) {
            u[w * 4 + b] = static_cast<uint8_t>(words[w] >> (24 - 8 * b));
        }
    }
    return u;
}

// True when the 16 bytes at `tuid` equal `uid`. A null `tuid` matches nothing.
bool uid_equals(const char* tuid, const Uid& uid) noexcept;

// --- FUnknown and IPluginBase -------------------------------------------------
inline constexpr Uid FUnknown_iid = inline_uid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
inline constexpr Uid IPluginBase_iid = inline_uid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);

// The three entries every table starts with; `self` is the interface pointer.
#define PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES                                                           \
    tresult (*query_interface)(void* self, const TUID iid, void** obj);                           \
    uint32 (*add_ref)(void* self);                                                                 \
    uint32 (*release)(void* self)

#define PLUGIN_KIT_VST3_IPLUGINBASE_ENTRIES                                                        \
    tresult (*initialize)(void* self, void* context);                                              \
    tresult (*terminate)(void* self)

struct FUnknownVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
};

// Any interface pointer: the object starts with its table pointer.
struct FUnknown {
    const FUnknownVtbl* vtbl;
};

struct IPluginBaseVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    PLUGIN_KIT_VST3_IPLUGINBASE_ENTRIES;
};

// --- IBStream -------------------------------------------------------------------
inline constexpr Uid IBStream_iid = inline_uid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);

inline constexpr int32 kIBSeekSet = 0;
inline constexpr int32 kIBSeekCur = 1;
inline constexpr int32 kIBSeekEnd = 2;

struct IBStreamVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*read)(void* self, void* buffer, int32 num_bytes, int32* num_bytes_read);
    tresult (*write)(void* self, void* buffer, int32 num_bytes, int32* num_bytes_written);
    tresult (*seek)(void* self, int64 pos, int32 mode, int64* result);
    tresult (*tell)(void* self, int64* pos);
};

struct IBStream {
    const IBStreamVtbl* vtbl;
};

// --- factory records --------------------------------------------------------------
inline constexpr int32 kFactoryFlagUnicode = 1 << 4;
inline constexpr int32 kManyInstances = 0x7FFFFFFF;
inline constexpr uint32 kSimpleModeSupported = 1u << 1;
inline constexpr char kVstAudioEffectClass[] = "Audio Module Class";

struct PFactoryInfo {
    char8 vendor[64];
    char8 url[256];
    char8 email[128];
    int32 flags;
};

struct PClassInfo {
    char cid[16];
    int32 cardinality;
    char8 category[32];
    char8 name[64];
};

struct PClassInfo2 {
    char cid[16];
    int32 cardinality;
    char8 category[32];
    char8 name[64];
    uint32 class_flags;
    char8 sub_categories[128];
    char8 vendor[64];
    char8 version[64];
    char8 sdk_version[64];
};

struct PClassInfoW {
    char cid[16];
    int32 cardinality;
    char8 category[32];
    char16 name[64];
    uint32 class_flags;
    char8 sub_categories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdk_version[64];
};

// --- IPluginFactory, 2, 3 ---------------------------------------------------------
inline constexpr Uid IPluginFactory_iid = inline_uid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
inline constexpr Uid IPluginFactory2_iid = inline_uid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
inline constexpr Uid IPluginFactory3_iid = inline_uid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);

// The table of IPluginFactory3; IPluginFactory and IPluginFactory2 are its prefixes.
struct IPluginFactory3Vtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    // IPluginFactory
    tresult (*get_factory_info)(void* self, PFactoryInfo* info);
    int32 (*count_classes)(void* self);
    tresult (*get_class_info)(void* self, int32 index, PClassInfo* info);
    tresult (*create_instance)(void* self, FIDString cid, FIDString iid, void** obj);
    // IPluginFactory2
    tresult (*get_class_info2)(void* self, int32 index, PClassInfo2* info);
    // IPluginFactory3
    tresult (*get_class_info_unicode)(void* self, int32 index, PClassInfoW* info);
    tresult (*set_host_context)(void* self, void* context);
};

struct IPluginFactory3 {
    const IPluginFactory3Vtbl* vtbl;
};

// --- layout checks (x86-64 Linux) ---------------------------------------------------
static_assert(sizeof(FUnknownVtbl) == 3 * sizeof(void*));
static_assert(sizeof(IPluginBaseVtbl) == 5 * sizeof(void*));
static_assert(sizeof(IBStreamVtbl) == 7 * sizeof(void*));
static_assert(offsetof(IPluginFactory3Vtbl, get_factory_info) == 3 * sizeof(void*));
static_assert(offsetof(IPluginFactory3Vtbl, create_instance) == 6 * sizeof(void*));
static_assert(offsetof(IPluginFactory3Vtbl, get_class_info2) == 7 * sizeof(void*));
static_assert(offsetof(IPluginFactory3Vtbl, set_host_context) == 9 * sizeof(void*));
static_assert(sizeof(PFactoryInfo) == 452);
static_assert(offsetof(PFactoryInfo, flags) == 448);
static_assert(offsetof(PClassInfo, cardinality) == 16);
static_assert(offsetof(PClassInfo, category) == 20);
static_assert(offsetof(PClassInfo, name) == 52);
static_assert(sizeof(PClassInfo) == 116);
static_assert(offsetof(PClassInfo2, class_flags) == 116);
static_assert(offsetof(PClassInfo2, sub_categories) == 120);
static_assert(offsetof(PClassInfo2, vendor) == 248);
static_assert(offsetof(PClassInfo2, version) == 312);
static_assert(offsetof(PClassInfo2, sdk_version) == 376);
static_assert(sizeof(PClassInfo2) == 440);
static_assert(offsetof(PClassInfoW, name) == 52);
static_assert(offsetof(PClassInfoW, class_flags) == 180);
static_assert(offsetof(PClassInfoW, sub_categories) == 184);
static_assert(offsetof(PClassInfoW, vendor) == 312);
static_assert(offsetof(PClassInfoW, version) == 440);
static_assert(offsetof(PClassInfoW, sdk_version) == 568);
static_assert(sizeof(PClassInfoW) == 696);

// ---------------------------------------------------------------------------------

inline bool uid_equals(const char* tuid, const Uid& uid) noexcept {
    if (tuid == nullptr) {
        return false;
    }
    for (size_t i = 0; i < uid.size(); ++i) {
        if (static_cast<uint8_t>(tuid[i]) != uid[i]) {
            return false;
        }
    }
    return true;
}

} // namespace plugin_kit::vst3_abi
