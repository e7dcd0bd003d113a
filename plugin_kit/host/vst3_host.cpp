#include "plugin_kit/host/vst3_host.hpp"
#include "plugin_kit/host/clap_host.hpp"

#include "plugin_kit/host/utf16.hpp"

#include <algorithm>
#include <cstring>
#include <deque>

namespace plugin_kit::host {

using namespace vst3_abi;

namespace {

// --- host-side declarations not in the plug-in ABI headers ---------------------

// IHostApplication: the host context handed to initialize().
inline constexpr Uid IHostApplication_iid = inline_uid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);

struct IHostApplicationVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*get_name)(void* self, String128 name);
    tresult (*create_instance)(void* self, TUID cid, TUID iid, void** obj);
};

using GetPluginFactoryFn = FUnknown* (*)();
using ModuleEntryFn = bool (*)(void*);
using ModuleExitFn = bool (*)();

// --- calls through interface pointers ------------------------------------------

template <typename Vtbl>
const Vtbl& table_of(void* object) {
    return **static_cast<const Vtbl* const*>(object);
}

void* query(void* object, const Uid& iid) {
    if (object == nullptr) {
        return nullptr;
    }
    void* out = nullptr;
    if (table_of<FUnknownVtbl>(object).query_interface(object, reinterpret_cast<const char*>(iid.data()), &out) !=
        kResultOk) {
        return nullptr;
    }
    return out;
}

void release(void* object) {
    if (object != nullptr) {
        table_of<FUnknownVtbl>(object).release(object);
    }
}

const char* tuid(const Uid& uid) { return reinterpret_cast<const char*>(uid.data()); }

// Objects the host owns for the life of the instance (or one call) answer
// reference counting without ever freeing themselves.
uint32 no_ref(void*) { return 1; }

tresult no_interface(void*, const TUID, void** obj) {
    if (obj != nullptr) {
        *obj = nullptr;
    }
    return kNoInterface;
}

// --- host context ----------------------------------------------------------------

struct HostApplication {
    const IHostApplicationVtbl* vtbl = &table;

    static tresult qi(void* self, const TUID iid, void** obj) {
        if (obj == nullptr) {
            return kInvalidArgument;
        }
        if (uid_equals(iid, FUnknown_iid) || uid_equals(iid, IHostApplication_iid)) {
            *obj = self;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    static tresult get_name(void*, String128 name) {
        const std::u16string text = to_utf16("plugin_kit host");
        std::fill_n(name, 128, u'\0');
        text.copy(name, 127);
        return kResultOk;
    }
    // The host creates no objects for plug-ins (messages, attribute lists).
    static tresult create_instance(void*, TUID, TUID, void** obj) {
        if (obj != nullptr) {
            *obj = nullptr;
        }
        return kNoInterface;
    }
    static constexpr IHostApplicationVtbl table = {qi, no_ref, no_ref, get_name, create_instance};
};

// --- component handler: edits from the controller, restart requests --------------

struct ComponentHandler {
    const IComponentHandlerVtbl* vtbl = &table;
    int restarts = 0;

    static tresult qi(void* self, const TUID iid, void** obj) {
        if (obj == nullptr) {
            return kInvalidArgument;
        }
        if (uid_equals(iid, FUnknown_iid) || uid_equals(iid, IComponentHandler_iid)) {
            *obj = self;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    static tresult edit(void*, ParamID) { return kResultOk; }
    static tresult perform(void*, ParamID, ParamValue) { return kResultOk; }
    static tresult restart(void* self, int32) {
        ++static_cast<ComponentHandler*>(self)->restarts;
        return kResultOk;
    }
    static constexpr IComponentHandlerVtbl table = {qi, no_ref, no_ref, edit, perform, edit, restart};
};

// --- byte stream -------------------------------------------------------------------

// A seekable memory stream that moves at most `piece` bytes per read or write.
struct MemoryStream {
    const IBStreamVtbl* vtbl = &table;
    std::string data;
    int64 pos = 0;
    StreamPieces pieces;

    IBStream* stream() { return reinterpret_cast<IBStream*>(this); }
    static MemoryStream* self(void* s) { return static_cast<MemoryStream*>(s); }

    static int32 limit(int32 wanted, uint64_t piece) {
        return piece == 0 ? wanted : static_cast<int32>(std::min<uint64_t>(static_cast<uint64_t>(wanted), piece));
    }
    static tresult read(void* s, void* buffer, int32 num_bytes, int32* num_read) {
        MemoryStream* m = self(s);
        if (buffer == nullptr || num_bytes < 0) {
            return kInvalidArgument;
        }
        const int64 left = std::max<int64>(0, static_cast<int64>(m->data.size()) - m->pos);
        const int32 n = limit(static_cast<int32>(std::min<int64>(num_bytes, left)), m->pieces.read);
        std::memcpy(buffer, m->data.data() + m->pos, static_cast<size_t>(n));
        m->pos += n;
        if (num_read != nullptr) {
            *num_read = n;
        }
        return kResultOk;
    }
    static tresult write(void* s, void* buffer, int32 num_bytes, int32* num_written) {
        MemoryStream* m = self(s);
        if (buffer == nullptr || num_bytes < 0) {
            return kInvalidArgument;
        }
        const int32 n = limit(num_bytes, m->pieces.write);
        const auto at = static_cast<size_t>(m->pos);
        if (m->data.size() < at + static_cast<size_t>(n)) {
            m->data.resize(at + static_cast<size_t>(n));
        }
        std::memcpy(m->data.data() + at, buffer, static_cast<size_t>(n));
        m->pos += n;
        if (num_written != nullptr) {
            *num_written = n;
        }
        return kResultOk;
    }
    static tresult seek(void* s, int64 pos, int32 mode, int64* result) {
        MemoryStream* m = self(s);
        int64 base = 0;
        if (mode == kIBSeekCur) {
            base = m->pos;
        } else if (mode == kIBSeekEnd) {
            base = static_cast<int64>(m->data.size());
        } else if (mode != kIBSeekSet) {
            return kInvalidArgument;
        }
        if (base + pos < 0) {
            return kInvalidArgument;
        }
        m->pos = base + pos;
        if (result != nullptr) {
            *result = m->pos;
        }
        return kResultOk;
    }
    static tresult tell(void* s, int64* pos) {
        if (pos == nullptr) {
            return kInvalidArgument;
        }
        *pos = self(s)->pos;
        return kResultOk;
    }
    static tresult qi(void* s, const TUID iid, void** obj) {
        if (obj == nullptr) {
            return kInvalidArgument;
        }
        if (uid_equals(iid, FUnknown_iid) || uid_equals(iid, IBStream_iid)) {
            *obj = s;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    static constexpr IBStreamVtbl table = {qi, no_ref, no_ref, read, write, seek, tell};
};

// --- parameter changes --------------------------------------------------------------

struct ValueQueue {
    const IParamValueQueueVtbl* vtbl = &table;
    ParamID id = 0;
    std::vector<std::pair<int32, ParamValue>> points;

    static ValueQueue* self(void* s) { return static_cast<ValueQueue*>(s); }
    static ParamID get_id(void* s) { return self(s)->id; }
    static int32 count(void* s) { return static_cast<int32>(self(s)->points.size()); }
    static tresult get_point(void* s, int32 index, int32* offset, ParamValue* value) {
        ValueQueue* q = self(s);
        if (index < 0 || static_cast<size_t>(index) >= q->points.size() || offset == nullptr || value == nullptr) {
            return kInvalidArgument;
        }
        *offset = q->points[static_cast<size_t>(index)].first;
        *value = q->points[static_cast<size_t>(index)].second;
        return kResultOk;
    }
    static tresult add_point(void* s, int32 offset, ParamValue value, int32* index) {
        ValueQueue* q = self(s);
        q->points.emplace_back(offset, value);
        if (index != nullptr) {
            *index = static_cast<int32>(q->points.size()) - 1;
        }
        return kResultOk;
    }
    static constexpr IParamValueQueueVtbl table = {no_interface, no_ref, no_ref, get_id, count, get_point, add_point};
};

// Changes for one block: the host's to the processor, or the processor's own
// (meters) handed back. Queues live in a deque so their addresses hold.
struct ChangeList {
    const IParameterChangesVtbl* vtbl = &table;
    std::deque<ValueQueue> queues;
    size_t used = 0; // queues in use this block; the rest are kept for reuse

    IParameterChanges* changes() { return reinterpret_cast<IParameterChanges*>(this); }
    void clear() {
        for (size_t i = 0; i < used; ++i) {
            queues[i].points.clear();
        }
        used = 0;
    }
    ValueQueue& queue_for(ParamID id, int32* index) {
        for (size_t i = 0; i < used; ++i) {
            if (queues[i].id == id) {
                if (index != nullptr) {
                    *index = static_cast<int32>(i);
                }
                return queues[i];
            }
        }
        if (used == queues.size()) {
            queues.emplace_back();
        }
        ValueQueue& q = queues[used];
        q.id = id;
        q.points.clear();
        if (index != nullptr) {
            *index = static_cast<int32>(used);
        }
        ++used;
        return q;
    }

    static ChangeList* self(void* s) { return static_cast<ChangeList*>(s); }
    static int32 count(void* s) { return static_cast<int32>(self(s)->used); }
    static IParamValueQueue* get(void* s, int32 index) {
        ChangeList* c = self(s);
        if (index < 0 || static_cast<size_t>(index) >= c->used) {
            return nullptr;
        }
        return reinterpret_cast<IParamValueQueue*>(&c->queues[static_cast<size_t>(index)]);
    }
    static IParamValueQueue* add_data(void* s, const ParamID* id, int32* index) {
        if (id == nullptr) {
            return nullptr;
        }
        return reinterpret_cast<IParamValueQueue*>(&self(s)->queue_for(*id, index));
    }
    static constexpr IParameterChangesVtbl table = {no_interface, no_ref, no_ref, count, get, add_data};
};

} // namespace

// ============================================================================
// Library
// ============================================================================

Vst3Library::Vst3Library(std::shared_ptr<SharedLibrary> library, IPluginFactory3* factory) noexcept
    : library_(std::move(library)), factory_(factory) {
    factory3_ = static_cast<IPluginFactory3*>(query(factory_, IPluginFactory3_iid));
    if (factory3_ != nullptr) {
        // Keep one reference only: the query's own is dropped at once.
        release(factory3_);
        static HostApplication context;
        factory3_->vtbl->set_host_context(factory3_, &context);
    }
}

std::shared_ptr<Vst3Library> Vst3Library::open(const std::string& path, std::string& error) {
    auto library = SharedLibrary::open(path, error);
    if (!library) {
        return nullptr;
    }
    auto get_factory = reinterpret_cast<GetPluginFactoryFn>(library->symbol("GetPluginFactory"));
    if (get_factory == nullptr) {
        error = path + " has no GetPluginFactory: not a VST3 module";
        return nullptr;
    }
    // Linux modules must be entered before anything else is called.
    if (auto entry = reinterpret_cast<ModuleEntryFn>(library->symbol("ModuleEntry")); entry != nullptr) {
        if (!entry(library->handle())) {
            error = path + ": ModuleEntry failed";
            return nullptr;
        }
    }
    FUnknown* factory = get_factory();
    if (factory == nullptr) {
        if (auto exit = reinterpret_cast<ModuleExitFn>(library->symbol("ModuleExit")); exit != nullptr) {
            exit();
        }
        error = path + ": GetPluginFactory returned no factory";
        return nullptr;
    }
    return std::shared_ptr<Vst3Library>(new Vst3Library(std::move(library), reinterpret_cast<IPluginFactory3*>(factory)));
}

Vst3Library::~Vst3Library() {
    factory_->vtbl->release(factory_);
    if (auto exit = reinterpret_cast<ModuleExitFn>(library_->symbol("ModuleExit")); exit != nullptr) {
        exit();
    }
}

std::vector<PClassInfo> Vst3Library::classes() const {
    std::vector<PClassInfo> out;
    const int32 count = factory_->vtbl->count_classes(factory_);
    for (int32 i = 0; i < count; ++i) {
        PClassInfo info{};
        if (factory_->vtbl->get_class_info(factory_, i, &info) == kResultOk) {
            out.push_back(info);
        }
    }
    return out;
}

std::optional<Uid> parse_uid(std::string_view hex) noexcept {
    if (hex.size() != 32) {
        return std::nullopt;
    }
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    Uid uid{};
    for (size_t i = 0; i < uid.size(); ++i) {
        const int hi = digit(hex[2 * i]);
        const int lo = digit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        uid[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return uid;
}

// ============================================================================
// Instance
// ============================================================================

struct Vst3HostedPlugin::Impl {
    HostApplication context;
    ComponentHandler handler;
    ChangeList input_changes;
    ChangeList output_changes;

    bool active = false;
    bool processing = false;
    int64 time_samples = 0;
    double sample_rate = 44100.0;

    // Bus layout and silent scratch buffers for every bus but the main ones.
    std::vector<int32> in_channels, out_channels;
    std::vector<std::vector<float>> scratch;
    std::vector<std::vector<float*>> in_pointers, out_pointers;
    std::vector<AudioBusBuffers> in_buses, out_buses;
};

Vst3HostedPlugin::Vst3HostedPlugin(std::shared_ptr<Vst3Library> library)
    : library_(std::move(library)), impl_(std::make_unique<Impl>()) {}

int Vst3HostedPlugin::restart_requests() const noexcept { return impl_->handler.restarts; }

std::unique_ptr<Vst3HostedPlugin> Vst3HostedPlugin::create(std::shared_ptr<Vst3Library> library,
                                                           std::optional<Uid> class_id, std::string& error) {
    if (!class_id) {
        for (const PClassInfo& info : library->classes()) {
            if (std::string_view(info.category, strnlen(info.category, sizeof info.category)) ==
                kVstAudioEffectClass) {
                Uid uid{};
                std::memcpy(uid.data(), info.cid, uid.size());
                class_id = uid;
                break;
            }
        }
        if (!class_id) {
            error = "the VST3 module offers no audio module class";
            return nullptr;
        }
    }
    IPluginFactory3* factory = library->factory();
    std::unique_ptr<Vst3HostedPlugin> hosted(new Vst3HostedPlugin(std::move(library)));
    Impl& impl = *hosted->impl_;

    void* component = nullptr;
    if (factory->vtbl->create_instance(factory, tuid(*class_id), tuid(IComponent_iid), &component) != kResultOk ||
        component == nullptr) {
        error = "the VST3 factory did not create the component";
        return nullptr;
    }
    hosted->component_ = component;
    const auto& comp = table_of<IComponentVtbl>(component);
    if (comp.initialize(component, &impl.context) != kResultOk) {
        error = "the VST3 component failed to initialise";
        release(component);
        hosted->component_ = nullptr;
        return nullptr;
    }
    hosted->processor_ = query(component, IAudioProcessor_iid);
    if (hosted->processor_ == nullptr) {
        error = "the VST3 component has no IAudioProcessor";
        return nullptr;
    }

    // A single-component plug-in is its own controller; otherwise build the
    // controller class the component names.
    hosted->controller_ = query(component, IEditController_iid);
    if (hosted->controller_ == nullptr) {
        TUID controller_cid{};
        void* controller = nullptr;
        if (comp.get_controller_class_id(component, controller_cid) == kResultOk &&
            factory->vtbl->create_instance(factory, controller_cid, tuid(IEditController_iid), &controller) ==
                kResultOk &&
            controller != nullptr) {
            hosted->controller_ = controller;
            hosted->separate_controller_ = true;
            if (table_of<IEditControllerVtbl>(controller).initialize(controller, &impl.context) != kResultOk) {
                error = "the VST3 edit controller failed to initialise";
                return nullptr;
            }
        }
    }
    if (hosted->controller_ == nullptr) {
        error = "the VST3 plug-in has no edit controller";
        return nullptr;
    }
    const auto& ctrl = table_of<IEditControllerVtbl>(hosted->controller_);
    ctrl.set_component_handler(hosted->controller_, reinterpret_cast<IComponentHandler*>(&impl.handler));

    // Bring a separate controller up to the component's state.
    if (hosted->separate_controller_) {
        MemoryStream state;
        if (comp.get_state(component, state.stream()) == kResultOk) {
            state.pos = 0;
            ctrl.set_component_state(hosted->controller_, state.stream());
        }
    }
    return hosted;
}

Vst3HostedPlugin::~Vst3HostedPlugin() {
    deactivate();
    if (controller_ != nullptr) {
        const auto& ctrl = table_of<IEditControllerVtbl>(controller_);
        ctrl.set_component_handler(controller_, nullptr);
        if (separate_controller_) {
            ctrl.terminate(controller_);
        }
        release(controller_);
    }
    release(processor_);
    if (component_ != nullptr) {
        table_of<IComponentVtbl>(component_).terminate(component_);
        release(component_);
    }
}

std::vector<HostParamInfo> Vst3HostedPlugin::params() const {
    std::vector<HostParamInfo> out;
    const auto& ctrl = table_of<IEditControllerVtbl>(controller_);
    const int32 count = ctrl.get_parameter_count(controller_);
    for (int32 i = 0; i < count; ++i) {
        ParameterInfo info{};
        if (ctrl.get_parameter_info(controller_, i, &info) != kResultOk) {
            continue;
        }
        HostParamInfo p;
        p.id = info.id;
        p.name = to_utf8(info.title, 128);
        p.unit = to_utf8(info.units, 128);
        p.min = 0.0;
        p.max = 1.0;
        p.default_value = info.default_normalized_value;
        p.step_count = info.step_count > 0 ? static_cast<uint32_t>(info.step_count) : 0u;
        p.automatable = (info.flags & kCanAutomate) != 0;
        p.read_only = (info.flags & (1 << 1)) != 0; // kIsReadOnly
        p.hidden = (info.flags & (1 << 4)) != 0;    // kIsHidden
        p.is_bypass = (info.flags & kIsBypass) != 0;
        out.push_back(std::move(p));
    }
    return out;
}

std::optional<double> Vst3HostedPlugin::param_value(uint32_t id) const {
    for (const HostParamInfo& p : params()) {
        if (p.id == id) {
            return table_of<IEditControllerVtbl>(controller_).get_param_normalized(controller_, id);
        }
    }
    return std::nullopt;
}

std::optional<std::string> Vst3HostedPlugin::value_to_text(uint32_t id, double value) const {
    String128 text{};
    if (table_of<IEditControllerVtbl>(controller_).get_param_string_by_value(controller_, id, value, text) !=
        kResultOk) {
        return std::nullopt;
    }
    return to_utf8(text, 128);
}

std::optional<double> Vst3HostedPlugin::text_to_value(uint32_t id, std::string_view text) const {
    std::u16string typed = to_utf16(text);
    ParamValue value = 0.0;
    if (table_of<IEditControllerVtbl>(controller_).get_param_value_by_string(controller_, id, typed.data(),
                                                                             &value) != kResultOk) {
        return std::nullopt;
    }
    return value;
}

bool Vst3HostedPlugin::set_param(uint32_t id, double value) {
    // The controller shows the new value at once; the processor hears of it
    // with the next block, at its first frame.
    const tresult result = table_of<IEditControllerVtbl>(controller_).set_param_normalized(controller_, id, value);
    ValueQueue& queue = impl_->input_changes.queue_for(id, nullptr);
    queue.points.assign(1, {0, value});
    return result == kResultOk;
}

bool Vst3HostedPlugin::set_param_at(uint32_t id, double value, uint32_t offset) {
    if (!impl_->processing) {
        return set_param(id, value);
    }
    // While processing, the change travels to the processor in the block's
    // parameter queue only; like a real host, this one leaves the
    // controller to learn of automation at its own pace rather than
    // announcing each point ahead of the block that carries it.
    auto& points = impl_->input_changes.queue_for(id, nullptr).points;
    const auto at_offset = static_cast<int32>(offset);
    auto at = std::lower_bound(points.begin(), points.end(), at_offset,
                               [](const std::pair<int32, ParamValue>& p, int32 t) { return p.first < t; });
    if (at != points.end() && at->first == at_offset) {
        at->second = value;
    } else {
        points.insert(at, {at_offset, value});
    }
    return true;
}

bool Vst3HostedPlugin::activate(double sample_rate, uint32_t max_frames) {
    Impl& impl = *impl_;
    if (impl.active) {
        return true;
    }
    const auto& comp = table_of<IComponentVtbl>(component_);
    const auto& proc = table_of<IAudioProcessorVtbl>(processor_);

    // Stereo main buses; other buses keep the arrangement they report.
    const auto arrangements = [&](BusDirection dir) {
        std::vector<SpeakerArrangement> out(static_cast<size_t>(std::max(0, comp.get_bus_count(component_, kAudio, dir))));
        for (size_t i = 0; i < out.size(); ++i) {
            if (i == 0 || proc.get_bus_arrangement(processor_, dir, static_cast<int32>(i), &out[i]) != kResultOk) {
                out[i] = kSpeakerArrStereo;
            }
        }
        return out;
    };
    std::vector<SpeakerArrangement> ins = arrangements(kInput);
    std::vector<SpeakerArrangement> outs = arrangements(kOutput);
    proc.set_bus_arrangements(processor_, ins.data(), static_cast<int32>(ins.size()), outs.data(),
                              static_cast<int32>(outs.size()));
    if (!ins.empty()) {
        comp.activate_bus(component_, kAudio, kInput, 0, 1);
    }
    if (!outs.empty()) {
        comp.activate_bus(component_, kAudio, kOutput, 0, 1);
    }

    impl.scratch.clear();
    const auto build = [&](BusDirection dir, size_t bus_count, std::vector<int32>& channels,
                           std::vector<std::vector<float*>>& pointers, std::vector<AudioBusBuffers>& buses) {
        channels.assign(bus_count, 0);
        pointers.assign(bus_count, {});
        buses.assign(bus_count, AudioBusBuffers{});
        for (size_t bus = 0; bus < bus_count; ++bus) {
            BusInfo info{};
            channels[bus] = bus == 0 ? 2
                            : comp.get_bus_info(component_, kAudio, dir, static_cast<int32>(bus), &info) == kResultOk
                                ? info.channel_count
                                : 0;
            for (int32 c = 0; c < channels[bus]; ++c) {
                if (bus == 0 && c < 2) {
                    pointers[bus].push_back(nullptr); // the caller's buffers, per block
                } else {
                    impl.scratch.emplace_back(max_frames, 0.0f);
                    pointers[bus].push_back(impl.scratch.back().data());
                }
            }
        }
    };
    build(kInput, ins.size(), impl.in_channels, impl.in_pointers, impl.in_buses);
    build(kOutput, outs.size(), impl.out_channels, impl.out_pointers, impl.out_buses);

    ProcessSetup setup{kRealtime, kSample32, static_cast<int32>(max_frames), sample_rate};
    if (proc.can_process_sample_size(processor_, kSample32) != kResultOk ||
        proc.setup_processing(processor_, &setup) != kResultOk) {
        return false;
    }
    impl.sample_rate = sample_rate;
    if (comp.set_active(component_, 1) != kResultOk) {
        return false;
    }
    impl.active = true;
    // Some plug-ins answer setProcessing with kNotImplemented; that is no refusal.
    const tresult started = proc.set_processing(processor_, 1);
    if (started != kResultOk && started != kNotImplemented) {
        comp.set_active(component_, 0);
        impl.active = false;
        return false;
    }
    impl.processing = true;
    return true;
}

bool Vst3HostedPlugin::process(std::span<float* const> inputs, std::span<float* const> outputs, uint32_t frames,
                               const HostTransport& transport) {
    Impl& impl = *impl_;
    if (!impl.processing || inputs.size() < 2 || outputs.size() < 2) {
        return false;
    }
    const auto fill = [&](std::vector<std::vector<float*>>& pointers, std::vector<AudioBusBuffers>& buses,
                          std::span<float* const> main) {
        for (size_t bus = 0; bus < pointers.size(); ++bus) {
            for (size_t c = 0; c < pointers[bus].size(); ++c) {
                if (bus == 0 && c < 2) {
                    pointers[bus][c] = main[c];
                } else {
                    std::fill_n(pointers[bus][c], frames, 0.0f);
                }
            }
            buses[bus].num_channels = static_cast<int32>(pointers[bus].size());
            buses[bus].silence_flags = 0;
            buses[bus].channel_buffers32 = pointers[bus].data();
        }
    };
    fill(impl.in_pointers, impl.in_buses, inputs);
    fill(impl.out_pointers, impl.out_buses, outputs);

    ProcessContext context{};
    context.state = transport.playing ? kPlaying : 0u;
    context.sample_rate = impl.sample_rate;
    context.project_time_samples = impl.time_samples;
    context.continous_time_samples = impl.time_samples;
    if (transport.tempo) {
        context.state |= kTempoValid;
        context.tempo = *transport.tempo;
    }

    impl.output_changes.clear();
    ProcessData data{};
    data.process_mode = kRealtime;
    data.symbolic_sample_size = kSample32;
    data.num_samples = static_cast<int32>(frames);
    data.num_inputs = static_cast<int32>(impl.in_buses.size());
    data.num_outputs = static_cast<int32>(impl.out_buses.size());
    data.inputs = impl.in_buses.empty() ? nullptr : impl.in_buses.data();
    data.outputs = impl.out_buses.empty() ? nullptr : impl.out_buses.data();
    data.input_parameter_changes = impl.input_changes.changes();
    data.output_parameter_changes = impl.output_changes.changes();
    data.process_context = &context;
    const tresult result = table_of<IAudioProcessorVtbl>(processor_).process(processor_, &data);
    impl.input_changes.clear();
    impl.time_samples += frames;
    return result == kResultOk;
}

tresult Vst3HostedPlugin::process_without_audio(uint32_t frames, NoAudio buses, HostTransport transport) {
    Impl& impl = *impl_;
    ProcessContext context{};
    context.state = transport.playing ? kPlaying : 0u;
    context.sample_rate = impl.sample_rate;
    context.project_time_samples = impl.time_samples;
    context.continous_time_samples = impl.time_samples;
    if (transport.tempo) {
        context.state |= kTempoValid;
        context.tempo = *transport.tempo;
    }
    AudioBusBuffers in{};
    AudioBusBuffers out{};
    impl.output_changes.clear();
    ProcessData data{};
    data.process_mode = kRealtime;
    data.symbolic_sample_size = kSample32;
    data.num_samples = static_cast<int32>(frames);
    if (buses == NoAudio::ZeroChannels) {
        data.num_inputs = 1;
        data.num_outputs = 1;
        data.inputs = &in;
        data.outputs = &out;
    }
    data.input_parameter_changes = impl.input_changes.changes();
    data.output_parameter_changes = impl.output_changes.changes();
    data.process_context = &context;
    const tresult result = table_of<IAudioProcessorVtbl>(processor_).process(processor_, &data);
    impl.input_changes.clear();
    return result;
}

void Vst3HostedPlugin::deactivate() {
    Impl& impl = *impl_;
    if (impl.processing) {
        table_of<IAudioProcessorVtbl>(processor_).set_processing(processor_, 0);
        impl.processing = false;
    }
    if (impl.active) {
        table_of<IComponentVtbl>(component_).set_active(component_, 0);
        impl.active = false;
    }
}

std::optional<std::string> Vst3HostedPlugin::save_state(StreamPieces pieces) {
    MemoryStream stream;
    stream.pieces = pieces;
    if (table_of<IComponentVtbl>(component_).get_state(component_, stream.stream()) != kResultOk) {
        return std::nullopt;
    }
    return std::move(stream.data);
}

bool Vst3HostedPlugin::load_state(std::string_view bytes, StreamPieces pieces) {
    MemoryStream stream;
    stream.data.assign(bytes);
    stream.pieces = pieces;
    if (table_of<IComponentVtbl>(component_).set_state(component_, stream.stream()) != kResultOk) {
        return false;
    }
    if (separate_controller_) {
        stream.pos = 0;
        table_of<IEditControllerVtbl>(controller_).set_component_state(controller_, stream.stream());
    }
    return true;
}

// ============================================================================
// Format-neutral loading
// ============================================================================

LoadResult load_plugin(const std::string& path, PluginFormat format, std::string_view plugin_id) {
    LoadResult result;
    if (format == PluginFormat::Clap) {
        auto library = ClapLibrary::open(path, result.error);
        if (library) {
            result.plugin = ClapHostedPlugin::create(std::move(library), plugin_id, result.error);
        }
        return result;
    }
    std::optional<Uid> class_id;
    if (!plugin_id.empty()) {
        class_id = parse_uid(plugin_id);
        if (!class_id) {
            result.error = "a VST3 class id is 32 hexadecimal digits, not '" + std::string(plugin_id) + "'";
            return result;
        }
    }
    auto library = Vst3Library::open(path, result.error);
    if (library) {
        result.plugin = Vst3HostedPlugin::create(std::move(library), class_id, result.error);
    }
    return result;
}

std::string_view format_name(PluginFormat format) noexcept { return format == PluginFormat::Clap ? "clap" : "vst3"; }

} // namespace plugin_kit::host
