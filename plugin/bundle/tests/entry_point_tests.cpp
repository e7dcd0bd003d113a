// The built plug-in library as hosts first meet it: the CLAP entry, factory,
// descriptor and extension query, and the VST3 module functions, factory and
// class records, with every id, index and pointer a host may get wrong.

#include "plugin_kit/abi/vst3/gui.hpp"
#include "plugin_kit/host/clap_host.hpp"
#include "plugin_kit/host/vst3_host.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace plugin_kit::host;
using namespace plugin_kit::clap_abi;
namespace vst = plugin_kit::vst3_abi;

const std::string library_path = TESSELLGROVE_LIBRARY;

std::shared_ptr<ClapLibrary> open_clap() {
    std::string error;
    auto library = ClapLibrary::open(library_path, error);
    EXPECT_TRUE(library) << error;
    return library;
}

std::shared_ptr<Vst3Library> open_vst3() {
    std::string error;
    auto library = Vst3Library::open(library_path, error);
    EXPECT_TRUE(library) << error;
    return library;
}

// --- CLAP ------------------------------------------------------------------------

TEST(ClapEntry, VersionAndRepeatableInit) {
    const auto library = open_clap();
    ASSERT_TRUE(library);
    const clap_plugin_entry& entry = library->entry();
    EXPECT_EQ(entry.clap_version.major, 1u);
    EXPECT_EQ(entry.clap_version.minor, 2u);
    EXPECT_EQ(entry.clap_version.revision, 2u);
    // A second init (another host component in the same process) is fine too.
    EXPECT_TRUE(entry.init(library_path.c_str()));
    entry.deinit();
    EXPECT_TRUE(entry.init(nullptr));
    entry.deinit();
}

TEST(ClapEntry, OffersOnlyThePluginFactory) {
    const auto library = open_clap();
    ASSERT_TRUE(library);
    const clap_plugin_entry& entry = library->entry();
    EXPECT_NE(entry.get_factory("clap.plugin-factory"), nullptr);
    for (const char* id : {"clap.plugin-factor", "clap.plugin-factory ", "clap.plugin-factory/2", "CLAP.PLUGIN-FACTORY",
                           "clap.preset-discovery-factory/2", "clap.preset-discovery-factory/draft-2", ""}) {
        EXPECT_EQ(entry.get_factory(id), nullptr) << '"' << id << '"';
    }
    EXPECT_EQ(entry.get_factory(nullptr), nullptr);
}

TEST(ClapFactory, OneDescriptorWithTheIdentity) {
    const auto library = open_clap();
    ASSERT_TRUE(library);
    const clap_plugin_factory* factory = library->factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->get_plugin_count(factory), 1u);
    const clap_plugin_descriptor* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 0), d) << "built once, then reused";
    for (const uint32_t index : {1u, 2u, 0xFFFFFFFFu}) {
        EXPECT_EQ(factory->get_plugin_descriptor(factory, index), nullptr) << index;
    }
    EXPECT_EQ(d->clap_version.major, 1u);
    EXPECT_EQ(d->clap_version.minor, 2u);
    EXPECT_EQ(d->clap_version.revision, 2u);
    EXPECT_STREQ(d->id, "com.corvalune.tessellgrove");
    EXPECT_STREQ(d->name, "Tessellgrove");
    EXPECT_STREQ(d->vendor, "Corvalune");
    EXPECT_STREQ(d->url, "https://corvalune.example");
    EXPECT_STREQ(d->version, "0.1.0");
    EXPECT_STREQ(d->description, "Ring modulator with granular-inspired carrier modes");
    EXPECT_EQ(d->manual_url, nullptr);
    EXPECT_EQ(d->support_url, nullptr);
    std::vector<std::string> features;
    for (const char* const* f = d->features; *f != nullptr; ++f) {
        features.emplace_back(*f);
    }
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "stereo", "distortion"}));
}

TEST(ClapFactory, CreatesOnlyForTheExactId) {
    const auto library = open_clap();
    ASSERT_TRUE(library);
    const clap_plugin_factory* factory = library->factory();
    ASSERT_NE(factory, nullptr);
    clap_host host{};
    host.clap_version = CLAP_VERSION_1_2_2;
    host.name = "tests";
    host.vendor = "";
    host.url = "";
    host.version = "1";
    host.get_extension = [](const clap_host*, const char*) -> const void* { return nullptr; };
    host.request_restart = [](const clap_host*) {};
    host.request_process = [](const clap_host*) {};
    host.request_callback = [](const clap_host*) {};

    for (const char* id : {"com.corvalune.tessellgrove ", "COM.CORVALUNE.TESSELLGROVE", "com.corvalune.tessellgrov",
                           "com.corvalune.tessellgrove2", " com.corvalune.tessellgrove", ""}) {
        EXPECT_EQ(factory->create_plugin(factory, &host, id), nullptr) << '"' << id << '"';
    }
    EXPECT_EQ(factory->create_plugin(factory, &host, nullptr), nullptr);
    const clap_plugin* plugin = factory->create_plugin(factory, &host, "com.corvalune.tessellgrove");
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->desc, factory->get_plugin_descriptor(factory, 0));
    EXPECT_TRUE(plugin->init(plugin));
    plugin->destroy(plugin);
}

TEST(ClapInstance, OffersItsExtensionsAndNoOthers) {
    std::string error;
    auto plugin = ClapHostedPlugin::create(open_clap(), "com.corvalune.tessellgrove", error);
    ASSERT_TRUE(plugin) << error;
    for (const char* id : {"clap.audio-ports-config", "clap.audio-ports", "clap.latency", "clap.params",
                           "clap.remote-controls/2", "clap.render", "clap.state", "clap.tail"}) {
        EXPECT_NE(plugin->extension(id), nullptr) << id;
    }
    for (const char* id : {"clap.note-ports", "clap.voice-info", "clap.thread-check", "clap.state-context/2",
                           "clap.params ", "clap.remote-controls", ""}) {
        EXPECT_EQ(plugin->extension(id), nullptr) << id;
    }
    EXPECT_EQ(plugin->extension(nullptr), nullptr);

    const auto* ports = static_cast<const clap_plugin_audio_ports*>(plugin->extension("clap.audio-ports"));
    for (const bool is_input : {true, false}) {
        ASSERT_EQ(ports->count(plugin->plugin(), is_input), 1u);
        clap_audio_port_info info{};
        ASSERT_TRUE(ports->get(plugin->plugin(), 0, is_input, &info));
        EXPECT_EQ(info.channel_count, 2u);
        EXPECT_STREQ(info.port_type, "stereo");
        EXPECT_STREQ(info.name, is_input ? "Input" : "Output");
    }
    const auto* latency = static_cast<const clap_plugin_latency*>(plugin->extension("clap.latency"));
    const auto* tail = static_cast<const clap_plugin_tail*>(plugin->extension("clap.tail"));
    EXPECT_EQ(latency->get(plugin->plugin()), 0u);
    EXPECT_EQ(tail->get(plugin->plugin()), 0u);
}

// The instance always has an editor, so it offers the gui extension: X11,
// embedded, which is also its preferred window API.
TEST(ClapInstance, OffersTheGuiForItsEditor) {
    std::string error;
    auto plugin = ClapHostedPlugin::create(open_clap(), "com.corvalune.tessellgrove", error);
    ASSERT_TRUE(plugin) << error;
    const auto* gui = static_cast<const clap_plugin_gui*>(plugin->extension("clap.gui"));
    ASSERT_NE(gui, nullptr);
    EXPECT_TRUE(gui->is_api_supported(plugin->plugin(), "x11", false));
    EXPECT_FALSE(gui->is_api_supported(plugin->plugin(), "x11", true));
    EXPECT_FALSE(gui->is_api_supported(plugin->plugin(), "wayland", false));
    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->get_preferred_api(plugin->plugin(), &api, &floating));
    EXPECT_STREQ(api, "x11");
    EXPECT_FALSE(floating);
}

// --- VST3 ------------------------------------------------------------------------

using GetPluginFactoryFn = vst::FUnknown* (*)();

TEST(Vst3Module, EntryExitAndANewFactoryPerCall) {
    std::string error;
    auto library = SharedLibrary::open(library_path, error);
    ASSERT_TRUE(library) << error;
    auto entry = reinterpret_cast<bool (*)(void*)>(library->symbol("ModuleEntry"));
    auto exit = reinterpret_cast<bool (*)()>(library->symbol("ModuleExit"));
    auto get_factory = reinterpret_cast<GetPluginFactoryFn>(library->symbol("GetPluginFactory"));
    ASSERT_TRUE(entry && exit && get_factory);
    EXPECT_TRUE(entry(library->handle()));
    EXPECT_TRUE(entry(library->handle())) << "entering twice is harmless";

    vst::FUnknown* first = get_factory();
    vst::FUnknown* second = get_factory();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    // Each starts with one reference: one more and two releases free it.
    EXPECT_EQ(first->vtbl->add_ref(first), 2u);
    EXPECT_EQ(first->vtbl->release(first), 1u);
    EXPECT_EQ(first->vtbl->release(first), 0u);
    EXPECT_EQ(second->vtbl->release(second), 0u);
    EXPECT_TRUE(exit());
    EXPECT_TRUE(exit());
}

std::string text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

std::u16string text16(const char16_t* field, size_t size) {
    std::u16string out;
    for (size_t i = 0; i < size && field[i] != 0; ++i) {
        out.push_back(field[i]);
    }
    return out;
}

const char expected_cid[16] = {'C', 'o', 'r', 'T', 'e', 's', 's', 'e', 'l', 'l', 'g', 'r', 'o', 'v', 'e', 0};

TEST(Vst3Factory, RecordsInAllThreeForms) {
    const auto library = open_vst3();
    ASSERT_TRUE(library);
    vst::IPluginFactory3* f = library->factory3();
    ASSERT_NE(f, nullptr);
    vst::PFactoryInfo info{};
    ASSERT_EQ(f->vtbl->get_factory_info(f, &info), vst::kResultOk);
    EXPECT_EQ(text(info.vendor, sizeof info.vendor), "Corvalune");
    EXPECT_EQ(text(info.url, sizeof info.url), "https://corvalune.example");
    EXPECT_EQ(text(info.email, sizeof info.email), "support@corvalune.example");
    EXPECT_EQ(info.flags, 16);
    EXPECT_EQ(f->vtbl->count_classes(f), 1);
    EXPECT_EQ(f->vtbl->set_host_context(f, nullptr), vst::kResultOk);

    vst::PClassInfo plain{};
    ASSERT_EQ(f->vtbl->get_class_info(f, 0, &plain), vst::kResultOk);
    EXPECT_EQ(std::memcmp(plain.cid, expected_cid, 16), 0);
    EXPECT_EQ(plain.cardinality, 0x7FFFFFFF);
    EXPECT_EQ(text(plain.category, sizeof plain.category), "Audio Module Class");
    EXPECT_EQ(text(plain.name, sizeof plain.name), "Tessellgrove");

    vst::PClassInfo2 v2{};
    ASSERT_EQ(f->vtbl->get_class_info2(f, 0, &v2), vst::kResultOk);
    EXPECT_EQ(std::memcmp(v2.cid, expected_cid, 16), 0);
    EXPECT_EQ(v2.class_flags, 2u);
    EXPECT_EQ(text(v2.sub_categories, sizeof v2.sub_categories), "Fx|Distortion");
    EXPECT_EQ(text(v2.vendor, sizeof v2.vendor), "Corvalune");
    EXPECT_EQ(text(v2.version, sizeof v2.version), "0.1.0");
    EXPECT_EQ(text(v2.sdk_version, sizeof v2.sdk_version), "VST 3.6.14");

    vst::PClassInfoW w{};
    ASSERT_EQ(f->vtbl->get_class_info_unicode(f, 0, &w), vst::kResultOk);
    EXPECT_EQ(std::memcmp(w.cid, expected_cid, 16), 0);
    EXPECT_EQ(text16(w.name, 64), u"Tessellgrove");
    EXPECT_EQ(text16(w.vendor, 64), u"Corvalune");
    EXPECT_EQ(text16(w.version, 64), u"0.1.0");
    EXPECT_EQ(text16(w.sdk_version, 64), u"VST 3.6.14");
    EXPECT_EQ(text(w.sub_categories, sizeof w.sub_categories), "Fx|Distortion");

    for (const int32_t index : {1, -1, 2}) {
        EXPECT_EQ(f->vtbl->get_class_info(f, index, &plain), vst::kInvalidArgument) << index;
        EXPECT_EQ(f->vtbl->get_class_info2(f, index, &v2), vst::kInvalidArgument) << index;
        EXPECT_EQ(f->vtbl->get_class_info_unicode(f, index, &w), vst::kInvalidArgument) << index;
    }
}

TEST(Vst3Factory, CreatesOnlyTheExactClassId) {
    const auto library = open_vst3();
    ASSERT_TRUE(library);
    vst::IPluginFactory3* f = library->factory();
    const char* component_iid = reinterpret_cast<const char*>(vst::IComponent_iid.data());

    // Any one byte off, the last included, is another class.
    for (const size_t byte : {15u, 0u, 7u}) {
        char cid[16];
        std::memcpy(cid, expected_cid, 16);
        cid[byte] = static_cast<char>(cid[byte] ^ 1);
        void* obj = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(f->vtbl->create_instance(f, cid, component_iid, &obj), vst::kInvalidArgument) << byte;
        EXPECT_EQ(obj, nullptr);
    }
    void* obj = nullptr;
    EXPECT_EQ(f->vtbl->create_instance(f, nullptr, component_iid, &obj), vst::kInvalidArgument);
    EXPECT_EQ(f->vtbl->create_instance(f, expected_cid, component_iid, nullptr), vst::kInvalidArgument);
    // A known class asked for an interface it lacks: refused, nothing leaked.
    obj = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(f->vtbl->create_instance(f, expected_cid, reinterpret_cast<const char*>(vst::IPlugView_iid.data()), &obj),
              vst::kInvalidArgument);
    EXPECT_EQ(obj, nullptr);

    ASSERT_EQ(f->vtbl->create_instance(f, expected_cid, component_iid, &obj), vst::kResultOk);
    ASSERT_NE(obj, nullptr);
    auto* unknown = static_cast<vst::FUnknown*>(obj);
    for (const vst::Uid& iid : {vst::FUnknown_iid, vst::IPluginBase_iid, vst::IComponent_iid, vst::IAudioProcessor_iid,
                                vst::IEditController_iid, vst::IMidiMapping_iid, vst::INoteExpressionController_iid,
                                vst::IUnitInfo_iid, vst::IProcessContextRequirements_iid}) {
        void* face = nullptr;
        EXPECT_EQ(unknown->vtbl->query_interface(obj, reinterpret_cast<const char*>(iid.data()), &face), vst::kResultOk);
        ASSERT_NE(face, nullptr);
        static_cast<vst::FUnknown*>(face)->vtbl->release(face);
    }
    EXPECT_EQ(unknown->vtbl->release(obj), 0u);
}

} // namespace
