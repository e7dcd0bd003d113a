// The factory as a host sees it: records byte for byte, class id checks,
// interface queries and reference counts of factory and instance.

#include "test_host.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using namespace vst3_test;

// A fixed-size 8-bit field holds `text` and zeros behind it, nothing else.
template <size_t N>
void expect_field(const char (&field)[N], std::string_view text) {
    ASSERT_LT(text.size(), N);
    EXPECT_EQ(std::string_view(field, text.size()), text);
    for (size_t i = text.size(); i < N; ++i) {
        ASSERT_EQ(field[i], 0) << "byte " << i << " behind \"" << text << "\"";
    }
}

// A fixed-size UTF-16 field holds `text` (ASCII) and zeros behind it.
template <size_t N>
void expect_field(const char16 (&field)[N], std::string_view text) {
    ASSERT_LT(text.size(), N);
    for (size_t i = 0; i < text.size(); ++i) {
        ASSERT_EQ(field[i], static_cast<char16>(text[i])) << "unit " << i << " of \"" << text << "\"";
    }
    for (size_t i = text.size(); i < N; ++i) {
        ASSERT_EQ(field[i], 0) << "unit " << i << " behind \"" << text << "\"";
    }
}

struct Factory {
    IPluginFactory3* f;
    explicit Factory(const Vst3Descriptor& d = test_descriptor) : f(create_vst3_factory(d)) {}
    ~Factory() { f->vtbl->release(f); }
    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;
};

TEST(Vst3Factory, FactoryInfoAndClassRecordsAreExact) {
    Factory factory;
    IPluginFactory3* f = factory.f;

    PFactoryInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_EQ(f->vtbl->get_factory_info(f, &info), kResultOk);
    expect_field(info.vendor, "Corvalune");
    expect_field(info.url, "https://corvalune.example");
    expect_field(info.email, "support@corvalune.example");
    EXPECT_EQ(info.flags, 16);
    EXPECT_EQ(f->vtbl->count_classes(f), 1);

    const char expected_cid[16] = {'C', 'o', 'r', 'T', 'e', 's', 's', 'e', 'l', 'l', 'g', 'r', 'o', 'v', 'e', 0};

    PClassInfo c1;
    std::memset(&c1, 0x5A, sizeof c1);
    ASSERT_EQ(f->vtbl->get_class_info(f, 0, &c1), kResultOk);
    EXPECT_EQ(std::memcmp(c1.cid, expected_cid, 16), 0);
    EXPECT_EQ(c1.cardinality, 0x7FFFFFFF);
    expect_field(c1.category, "Audio Module Class");
    expect_field(c1.name, "Tessellgrove");

    PClassInfo2 c2;
    std::memset(&c2, 0x5A, sizeof c2);
    ASSERT_EQ(f->vtbl->get_class_info2(f, 0, &c2), kResultOk);
    EXPECT_EQ(std::memcmp(c2.cid, expected_cid, 16), 0);
    EXPECT_EQ(c2.cardinality, 0x7FFFFFFF);
    expect_field(c2.category, "Audio Module Class");
    expect_field(c2.name, "Tessellgrove");
    EXPECT_EQ(c2.class_flags, 2u);
    expect_field(c2.sub_categories, "Fx|Distortion");
    expect_field(c2.vendor, "Corvalune");
    expect_field(c2.version, "0.1.0");
    expect_field(c2.sdk_version, "VST 3.6.14");

    PClassInfoW cw;
    std::memset(&cw, 0x5A, sizeof cw);
    ASSERT_EQ(f->vtbl->get_class_info_unicode(f, 0, &cw), kResultOk);
    EXPECT_EQ(std::memcmp(cw.cid, expected_cid, 16), 0);
    EXPECT_EQ(cw.cardinality, 0x7FFFFFFF);
    expect_field(cw.category, "Audio Module Class");
    expect_field(cw.name, "Tessellgrove");
    EXPECT_EQ(cw.class_flags, 2u);
    expect_field(cw.sub_categories, "Fx|Distortion");
    expect_field(cw.vendor, "Corvalune");
    expect_field(cw.version, "0.1.0");
    expect_field(cw.sdk_version, "VST 3.6.14");

    EXPECT_EQ(f->vtbl->set_host_context(f, nullptr), kResultOk);
}

TEST(Vst3Factory, ClassRecordsRefuseOtherIndicesAndNullRecords) {
    Factory factory;
    IPluginFactory3* f = factory.f;
    for (const int32 index : {-1, 1, 2, 0x7FFFFFFF}) {
        PClassInfo c1;
        PClassInfo2 c2;
        PClassInfoW cw;
        EXPECT_EQ(f->vtbl->get_class_info(f, index, &c1), kInvalidArgument) << index;
        EXPECT_EQ(f->vtbl->get_class_info2(f, index, &c2), kInvalidArgument) << index;
        EXPECT_EQ(f->vtbl->get_class_info_unicode(f, index, &cw), kInvalidArgument) << index;
    }
    EXPECT_EQ(f->vtbl->get_class_info(f, 0, nullptr), kInvalidArgument);
    EXPECT_EQ(f->vtbl->get_class_info2(f, 0, nullptr), kInvalidArgument);
    EXPECT_EQ(f->vtbl->get_class_info_unicode(f, 0, nullptr), kInvalidArgument);
    EXPECT_EQ(f->vtbl->get_factory_info(f, nullptr), kInvalidArgument);
}

TEST(Vst3Factory, LongTextsAreCutToTheirFields) {
    const std::string name(100, 'n');
    const std::string url(300, 'u');
    const std::string sub(200, 's');
    // "é" (two UTF-8 bytes, one UTF-16 unit) makes byte and unit counts differ.
    std::string vendor;
    for (int i = 0; i < 40; ++i) {
        vendor += "\xC3\xA9";
    }
    Vst3Descriptor d = test_descriptor;
    d.name = name;
    d.url = url;
    d.subcategories = sub;
    d.vendor = vendor;
    Factory factory(d);
    IPluginFactory3* f = factory.f;

    PFactoryInfo info;
    ASSERT_EQ(f->vtbl->get_factory_info(f, &info), kResultOk);
    expect_field(info.url, url.substr(0, 255));
    expect_field(info.vendor, vendor.substr(0, 63));

    PClassInfo2 c2;
    ASSERT_EQ(f->vtbl->get_class_info2(f, 0, &c2), kResultOk);
    expect_field(c2.name, name.substr(0, 63));
    expect_field(c2.sub_categories, sub.substr(0, 127));

    PClassInfoW cw;
    ASSERT_EQ(f->vtbl->get_class_info_unicode(f, 0, &cw), kResultOk);
    expect_field(cw.name, name.substr(0, 63));
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(cw.vendor[i], u'\u00E9') << i;
    }
    EXPECT_EQ(cw.vendor[40], 0);
}

TEST(Vst3Factory, CreateInstanceChecksEveryByteOfTheClassId) {
    Factory factory;
    IPluginFactory3* f = factory.f;
    const auto* iid = reinterpret_cast<const char*>(IComponent_iid.data());
    ASSERT_EQ(FakePlugin::live.load(), 0);

    for (size_t i = 0; i < 16; ++i) {
        Uid cid = test_class_id;
        cid[i] = static_cast<uint8_t>(cid[i] ^ 0x01);
        void* obj = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(f->vtbl->create_instance(f, reinterpret_cast<const char*>(cid.data()), iid, &obj),
                  kInvalidArgument)
            << "byte " << i;
        EXPECT_EQ(obj, nullptr) << "byte " << i;
    }
    void* obj = nullptr;
    EXPECT_EQ(f->vtbl->create_instance(f, nullptr, iid, &obj), kInvalidArgument);
    EXPECT_EQ(f->vtbl->create_instance(f, reinterpret_cast<const char*>(test_class_id.data()), iid, nullptr),
              kInvalidArgument);
    EXPECT_EQ(FakePlugin::live.load(), 0) << "a refused request built an instance";

    // An interface the instance lacks: the instance is built, released, and
    // nothing is handed out.
    obj = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(f->vtbl->create_instance(f, reinterpret_cast<const char*>(test_class_id.data()),
                                       reinterpret_cast<const char*>(IPlugView_iid.data()), &obj),
              kInvalidArgument);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(FakePlugin::live.load(), 0);

    ASSERT_EQ(f->vtbl->create_instance(f, reinterpret_cast<const char*>(test_class_id.data()), iid, &obj),
              kResultOk);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(FakePlugin::live.load(), 1);
    EXPECT_EQ(release(obj), 0u) << "the host must be the only holder";
    EXPECT_EQ(FakePlugin::live.load(), 0);
}

TEST(Vst3Factory, AnswersItsThreeInterfacesAndCountsReferences) {
    IPluginFactory3* f = create_vst3_factory(test_descriptor);
    ASSERT_NE(f, nullptr);
    for (const Uid& iid : {FUnknown_iid, IPluginFactory_iid, IPluginFactory2_iid, IPluginFactory3_iid}) {
        void* obj = nullptr;
        ASSERT_EQ(f->vtbl->query_interface(f, reinterpret_cast<const char*>(iid.data()), &obj), kResultOk);
        EXPECT_EQ(obj, f);
    }
    // Each query took a reference: 1 + 4, then one more, then back down.
    EXPECT_EQ(f->vtbl->add_ref(f), 6u);
    for (uint32 expected = 5; expected >= 1; --expected) {
        EXPECT_EQ(f->vtbl->release(f), expected);
    }
    void* obj = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(f->vtbl->query_interface(f, reinterpret_cast<const char*>(IComponent_iid.data()), &obj),
              kNoInterface);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(f->vtbl->query_interface(f, nullptr, &obj), kInvalidArgument);
    EXPECT_EQ(f->vtbl->release(f), 0u);
}

TEST(Vst3Instance, AnswersEveryInterfaceAsOneObject) {
    Instance inst;
    ASSERT_NE(inst.component, nullptr);
    const Uid known[] = {FUnknown_iid,
                         IPluginBase_iid,
                         IComponent_iid,
                         IAudioProcessor_iid,
                         IEditController_iid,
                         IMidiMapping_iid,
                         INoteExpressionController_iid,
                         IUnitInfo_iid,
                         IProcessContextRequirements_iid};
    void* identity = query<void>(inst.component, FUnknown_iid);
    ASSERT_NE(identity, nullptr);
    for (const Uid& iid : known) {
        void* face = query<void>(inst.component, iid);
        ASSERT_NE(face, nullptr);
        // Asking any face for the same interface gives the same pointer, and
        // every face leads back to the one identity.
        EXPECT_EQ(query<void>(face, iid), face);
        release(face);
        void* back = query<void>(face, FUnknown_iid);
        EXPECT_EQ(back, identity);
        release(back);
        release(face);
    }
    EXPECT_EQ(query<void>(inst.component, IComponent_iid), inst.component);
    release(inst.component);
    EXPECT_EQ(query<void>(inst.component, IPluginBase_iid), inst.component);
    release(inst.component);
    release(identity);

    for (const Uid& iid : {IPlugView_iid, IBStream_iid, IPluginFactory_iid, IComponentHandler_iid}) {
        void* obj = reinterpret_cast<void*>(0x1);
        auto* unknown = static_cast<FUnknown*>(inst.processor);
        EXPECT_EQ(unknown->vtbl->query_interface(unknown, reinterpret_cast<const char*>(iid.data()), &obj),
                  kNoInterface);
        EXPECT_EQ(obj, nullptr);
    }
}

TEST(Vst3Instance, LivesUntilTheLastReferenceGoes) {
    IPluginFactory3* f = create_vst3_factory(test_descriptor);
    void* component = nullptr;
    ASSERT_EQ(f->vtbl->create_instance(f, reinterpret_cast<const char*>(test_class_id.data()),
                                       reinterpret_cast<const char*>(IComponent_iid.data()), &component),
              kResultOk);
    f->vtbl->release(f); // the instance does not need its factory
    void* controller = query<void>(component, IEditController_iid);
    EXPECT_EQ(add_ref(component), 3u);
    EXPECT_EQ(release(component), 2u);
    EXPECT_EQ(release(component), 1u);
    EXPECT_EQ(FakePlugin::live.load(), 1);
    // Still usable through the remaining reference.
    EXPECT_EQ(table_of<IEditControllerVtbl>(controller).get_parameter_count(controller), 5);
    EXPECT_EQ(release(controller), 0u);
    EXPECT_EQ(FakePlugin::live.load(), 0);
}

TEST(Vst3Instance, ProcessContextAndUnitAnswers) {
    Instance inst;
    void* ctx = query<void>(inst.component, IProcessContextRequirements_iid);
    const uint32 flags = table_of<IProcessContextRequirementsVtbl>(ctx).get_process_context_requirements(ctx);
    EXPECT_EQ(flags, kNeedTempo | kNeedTransportState);
    release(ctx);

    void* units = query<void>(inst.component, IUnitInfo_iid);
    const auto& u = table_of<IUnitInfoVtbl>(units);
    EXPECT_EQ(u.get_unit_count(units), 1);
    UnitInfo root{};
    ASSERT_EQ(u.get_unit_info(units, 0, &root), kResultOk);
    EXPECT_EQ(root.id, kRootUnitId);
    EXPECT_EQ(root.parent_unit_id, kNoParentUnitId);
    EXPECT_EQ(root.program_list_id, kNoProgramListId);
    EXPECT_EQ(u.get_unit_info(units, 1, &root), kInvalidArgument);
    EXPECT_EQ(u.get_program_list_count(units), 0);
    release(units);

    void* notes = query<void>(inst.component, INoteExpressionController_iid);
    EXPECT_EQ(table_of<INoteExpressionControllerVtbl>(notes).get_note_expression_count(notes, 0, 0), 0);
    release(notes);

    void* midi = query<void>(inst.component, IMidiMapping_iid);
    ParamID id = 0;
    EXPECT_EQ(table_of<IMidiMappingVtbl>(midi).get_midi_controller_assignment(midi, 0, 0, 7, &id), kResultFalse);
    release(midi);
}

} // namespace
