// The VST3 plug-in factory: one class, its records in plain, version-2 and
// Unicode form, and instance creation by class id.

#include "plugin_kit/vst3/vst3.hpp"

#include "plugin_kit/vst3/text.hpp"
#include "plugin_kit/vst3/vst3_instance.hpp"

#include <atomic>
#include <cstring>
#include <new>

namespace plugin_kit {

using namespace vst3_abi;

namespace {

class Vst3Factory {
public:
    explicit Vst3Factory(const Vst3Descriptor& descriptor) noexcept : descriptor_(descriptor) {}

    IPluginFactory3* as_factory() noexcept { return reinterpret_cast<IPluginFactory3*>(&face_); }

    tresult query_interface(const char* iid, void** obj) noexcept;
    uint32 add_ref() noexcept { return ref_count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32 release() noexcept;

    tresult get_factory_info(PFactoryInfo* info) const noexcept;
    tresult get_class_info(int32 index, PClassInfo* info) const noexcept;
    tresult get_class_info2(int32 index, PClassInfo2* info) const noexcept;
    tresult get_class_info_unicode(int32 index, PClassInfoW* info) const noexcept;
    tresult create_instance(FIDString cid, FIDString iid, void** obj) const noexcept;

private:
    struct Face {
        const IPluginFactory3Vtbl* vtbl;
        Vst3Factory* owner;
    };
    static const IPluginFactory3Vtbl vtbl;

    static Vst3Factory* from(void* self) noexcept {
        return self == nullptr ? nullptr : static_cast<Face*>(self)->owner;
    }

    // Trampolines, named after the entries they serve.
    static tresult query_interface(void* self, const TUID iid, void** obj);
    static uint32 add_ref(void* self);
    static uint32 release(void* self);
    static tresult get_factory_info(void* self, PFactoryInfo* info);
    static int32 count_classes(void* self);
    static tresult get_class_info(void* self, int32 index, PClassInfo* info);
    static tresult create_instance(void* self, FIDString cid, FIDString iid, void** obj);
    static tresult get_class_info2(void* self, int32 index, PClassInfo2* info);
    static tresult get_class_info_unicode(void* self, int32 index, PClassInfoW* info);
    static tresult set_host_context(void* self, void* context);

    Face face_{&vtbl, this};
    std::atomic<uint32> ref_count_{1};
    const Vst3Descriptor& descriptor_;
};

const IPluginFactory3Vtbl Vst3Factory::vtbl = {
    &Vst3Factory::query_interface,
    &Vst3Factory::add_ref,
    &Vst3Factory::release,
    &Vst3Factory::get_factory_info,
    &Vst3Factory::count_classes,
    &Vst3Factory::get_class_info,
    &Vst3Factory::create_instance,
    &Vst3Factory::get_class_info2,
    &Vst3Factory::get_class_info_unicode,
    &Vst3Factory::set_host_context,
};

tresult Vst3Factory::query_interface(const char* iid, void** obj) noexcept {
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    *obj = nullptr;
    if (iid == nullptr) {
        return kInvalidArgument;
    }
    if (!uid_equals(iid, FUnknown_iid) && !uid_equals(iid, IPluginFactory_iid) &&
        !uid_equals(iid, IPluginFactory2_iid) && !uid_equals(iid, IPluginFactory3_iid)) {
        return kNoInterface;
    }
    add_ref();
    *obj = &face_;
    return kResultOk;
}

uint32 Vst3Factory::release() noexcept {
    const uint32 left = ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult Vst3Factory::get_factory_info(PFactoryInfo* info) const noexcept {
    if (info == nullptr) {
        return kInvalidArgument;
    }
    vst3_text::copy_to_field(descriptor_.vendor, info->vendor);
    vst3_text::copy_to_field(descriptor_.url, info->url);
    vst3_text::copy_to_field(descriptor_.email, info->email);
    info->flags = kFactoryFlagUnicode;
    return kResultOk;
}

tresult Vst3Factory::get_class_info(int32 index, PClassInfo* info) const noexcept {
    if (index != 0 || info == nullptr) {
        return kInvalidArgument;
    }
    std::memcpy(info->cid, descriptor_.class_id.data(), sizeof(info->cid));
    info->cardinality = kManyInstances;
    vst3_text::copy_to_field(kVstAudioEffectClass, info->category);
    vst3_text::copy_to_field(descriptor_.name, info->name);
    return kResultOk;
}

tresult Vst3Factory::get_class_info2(int32 index, PClassInfo2* info) const noexcept {
    if (index != 0 || info == nullptr) {
        return kInvalidArgument;
    }
    std::memcpy(info->cid, descriptor_.class_id.data(), sizeof(info->cid));
    info->cardinality = kManyInstances;
    vst3_text::copy_to_field(kVstAudioEffectClass, info->category);
    vst3_text::copy_to_field(descriptor_.name, info->name);
    info->class_flags = kSimpleModeSupported;
    vst3_text::copy_to_field(descriptor_.subcategories, info->sub_categories);
    vst3_text::copy_to_field(descriptor_.vendor, info->vendor);
    vst3_text::copy_to_field(descriptor_.version, info->version);
    vst3_text::copy_to_field(descriptor_.sdk_version, info->sdk_version);
    return kResultOk;
}

tresult Vst3Factory::get_class_info_unicode(int32 index, PClassInfoW* info) const noexcept {
    if (index != 0 || info == nullptr) {
        return kInvalidArgument;
    }
    std::memcpy(info->cid, descriptor_.class_id.data(), sizeof(info->cid));
    info->cardinality = kManyInstances;
    vst3_text::copy_to_field(kVstAudioEffectClass, info->category);
    vst3_text::copy_to_field(descriptor_.name, info->name);
    info->class_flags = kSimpleModeSupported;
    vst3_text::copy_to_field(descriptor_.subcategories, info->sub_categories);
    vst3_text::copy_to_field(descriptor_.vendor, info->vendor);
    vst3_text::copy_to_field(descriptor_.version, info->version);
    vst3_text::copy_to_field(descriptor_.sdk_version, info->sdk_version);
    return kResultOk;
}

tresult Vst3Factory::create_instance(FIDString cid, FIDString iid, void** obj) const noexcept {
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    *obj = nullptr;
    if (cid == nullptr || !uid_equals(cid, descriptor_.class_id)) {
        return kInvalidArgument;
    }
    FUnknown* instance = nullptr;
    try {
        instance = create_vst3_instance(descriptor_);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kInternalError;
    }
    // The new instance holds one reference; a successful query takes a
    // second, and releasing the first leaves the host the only holder.
    const tresult result = instance->vtbl->query_interface(instance, iid, obj);
    instance->vtbl->release(instance);
    if (result != kResultOk) {
        *obj = nullptr;
        return kInvalidArgument;
    }
    return kResultOk;
}

// --- trampolines ---------------------------------------------------------------------

tresult Vst3Factory::query_interface(void* self, const TUID iid, void** obj) {
    Vst3Factory* f = from(self);
    return f == nullptr ? kInvalidArgument : f->query_interface(iid, obj);
}
uint32 Vst3Factory::add_ref(void* self) {
    Vst3Factory* f = from(self);
    return f == nullptr ? 0 : f->add_ref();
}
uint32 Vst3Factory::release(void* self) {
    Vst3Factory* f = from(self);
    return f == nullptr ? 0 : f->release();
}
tresult Vst3Factory::get_factory_info(void* self, PFactoryInfo* info) {
    Vst3Factory* f = from(self);
    return f == nullptr ? kInvalidArgument : f->get_factory_info(info);
}
int32 Vst3Factory::count_classes(void* self) { return from(self) == nullptr ? 0 : 1; }
tresult Vst3Factory::get_class_info(void* self, int32 index, PClassInfo* info) {
    Vst3Factory* f = from(self);
    return f == nullptr ? kInvalidArgument : f->get_class_info(index, info);
}
tresult Vst3Factory::create_instance(void* self, FIDString cid, FIDString iid, void** obj) {
    Vst3Factory* f = from(self);
    return f == nullptr ? kInvalidArgument : f->create_instance(cid, iid, obj);
}
tresult Vst3Factory::get_class_info2(void* self, int32 index, PClassInfo2* info) {
    Vst3Factory* f = from(self);
    return f == nullptr ? kInvalidArgument : f->get_class_info2(index, info);
}
tresult Vst3Factory::get_class_info_unicode(void* self, int32 index, PClassInfoW* info) {
    Vst3Factory* f = from(self);
    return f == nullptr ? kInvalidArgument : f->get_class_info_unicode(index, info);
}
tresult Vst3Factory::set_host_context(void* self, void* context) {
    // The host context offers nothing the factory needs.
    (void)context;
    return from(self) == nullptr ? kInvalidArgument : kResultOk;
}

} // namespace

IPluginFactory3* create_vst3_factory(const Vst3Descriptor& descriptor) noexcept {
    auto* factory = new (std::nothrow) Vst3Factory(descriptor);
    return factory == nullptr ? nullptr : factory->as_factory();
}

} // namespace plugin_kit
