#pragma once
// VST3 editor view ABI: IPlugView, IPlugFrame and ViewRect. See base.hpp for
// how these declarations are written and checked.

#include "plugin_kit/abi/vst3/base.hpp"

#include <cstddef>

namespace plugin_kit::vst3_abi {

inline constexpr Uid IPlugView_iid = inline_uid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
inline constexpr Uid IPlugFrame_iid = inline_uid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);

// Pixels; on X11 physical pixels.
struct ViewRect {
    int32 left;
    int32 top;
    int32 right;
    int32 bottom;
};

struct IPlugFrame;

struct IPlugViewVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*is_platform_type_supported)(void* self, FIDString type);
    tresult (*attached)(void* self, void* parent, FIDString type);
    tresult (*removed)(void* self);
    tresult (*on_wheel)(void* self, float distance);
    tresult (*on_key_down)(void* self, char16 key, int16 key_code, int16 modifiers);
    tresult (*on_key_up)(void* self, char16 key, int16 key_code, int16 modifiers);
    tresult (*get_size)(void* self, ViewRect* size);
    tresult (*on_size)(void* self, ViewRect* new_size);
    tresult (*on_focus)(void* self, TBool state);
    tresult (*set_frame)(void* self, IPlugFrame* frame);
    tresult (*can_resize)(void* self);
    tresult (*check_size_constraint)(void* self, ViewRect* rect);
};

struct IPlugView {
    const IPlugViewVtbl* vtbl;
};

struct IPlugFrameVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*resize_view)(void* self, IPlugView* view, ViewRect* new_size);
};

struct IPlugFrame {
    const IPlugFrameVtbl* vtbl;
};

static_assert(sizeof(ViewRect) == 16);
static_assert(sizeof(IPlugViewVtbl) == 15 * sizeof(void*));
static_assert(offsetof(IPlugViewVtbl, get_size) == 9 * sizeof(void*));
static_assert(sizeof(IPlugFrameVtbl) == 4 * sizeof(void*));

} // namespace plugin_kit::vst3_abi
