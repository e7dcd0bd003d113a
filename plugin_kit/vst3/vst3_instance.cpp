#include "plugin_kit/vst3/vst3_instance.hpp"

#include "plugin_kit/abi/vst3/gui.hpp"
#include "plugin_kit/abi/vst3/vst.hpp"
#include "plugin_kit/params/host_info.hpp"
#include "plugin_kit/params/param_id.hpp"
#include "plugin_kit/plugin/denormals.hpp"
#include "plugin_kit/state/state.hpp"
#include "plugin_kit/vst3/state_stream.hpp"
#include "plugin_kit/vst3/text.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace plugin_kit {

using namespace vst3_abi;

namespace {

class Vst3Instance;
class Vst3View;

// One interface of an object: what the host holds is a pointer to `vtbl`;
// `owner` leads the trampolines back to the object.
template <typename Owner>
struct Face {
    const void* vtbl;
    Owner* owner;
};

template <typename Owner>
Owner* owner_of(void* self) noexcept {
    return self == nullptr ? nullptr : static_cast<Face<Owner>*>(self)->owner;
}

// The longest text a host may hand to getParamValueByString that we read.
constexpr size_t max_typed_text_units = 4096;

// ---------------------------------------------------------------------------
// The Linux run loop a host offers through its IPlugFrame, and the handlers
// the view registers with it (declared as the VST3 interfaces lay them out):
// a timer that carries gestures to the UI thread, and, while the editor
// asks for it, a descriptor handler and a second timer for the editor's link.

constexpr Uid IRunLoop_iid = inline_uid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
constexpr Uid ITimerHandler_iid = inline_uid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);
constexpr Uid IEventHandler_iid = inline_uid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);

struct ITimerHandler;
struct IEventHandler;

struct IRunLoopVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*register_event_handler)(void* self, IEventHandler* handler, int fd);
    tresult (*unregister_event_handler)(void* self, IEventHandler* handler);
    tresult (*register_timer)(void* self, ITimerHandler* handler, uint64_t milliseconds);
    tresult (*unregister_timer)(void* self, ITimerHandler* handler);
};

struct IRunLoop {
    const IRunLoopVtbl* vtbl;
};

struct ITimerHandlerVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    void (*on_timer)(void* self);
};

// Called by the host on its UI thread when the registered descriptor is set.
struct IEventHandlerVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    void (*on_fd_is_set)(void* self, int fd);
};

static_assert(sizeof(IRunLoopVtbl) == 7 * sizeof(void*));
static_assert(offsetof(IRunLoopVtbl, register_timer) == 5 * sizeof(void*));
static_assert(sizeof(IEventHandlerVtbl) == 4 * sizeof(void*));

// Period of the view's run-loop timer that delivers editor gestures, in ms.
constexpr uint64_t gesture_timer_ms = 16;

// One editor gesture on its way to the component handler.
struct Vst3Gesture {
    enum class Kind { Begin, Perform, End };
    Kind kind = Kind::Begin;
    std::string id;           // parameter text id
    double normalized = 0.0;  // Perform only
};

// ---------------------------------------------------------------------------
// The instance

class Vst3Instance {
public:
    explicit Vst3Instance(const Vst3Descriptor& descriptor);
    ~Vst3Instance();
    Vst3Instance(const Vst3Instance&) = delete;
    Vst3Instance& operator=(const Vst3Instance&) = delete;

    FUnknown* funknown() noexcept { return reinterpret_cast<FUnknown*>(&component_); }

    // FUnknown
    tresult query_interface(const char* iid, void** obj) noexcept;
    uint32 add_ref() noexcept { return ref_count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32 release() noexcept;

    // IPluginBase
    tresult initialize(void* context) noexcept;
    tresult terminate() noexcept;

    // IComponent
    int32 get_bus_count(MediaType type, BusDirection dir) const noexcept;
    tresult get_bus_info(MediaType type, BusDirection dir, int32 index, BusInfo* bus) const noexcept;
    tresult activate_bus(MediaType type, BusDirection dir, int32 index, TBool state) noexcept;
    tresult set_active(TBool state) noexcept;
    tresult load_state(IBStream* stream) noexcept;
    tresult save_state(IBStream* stream) const noexcept;

    // IAudioProcessor
    tresult set_bus_arrangements(const SpeakerArrangement* inputs, int32 num_ins,
                                 const SpeakerArrangement* outputs, int32 num_outs) const noexcept;
    tresult get_bus_arrangement(BusDirection dir, int32 index, SpeakerArrangement* arr) const noexcept;
    tresult setup_processing(const ProcessSetup* setup) noexcept;
    tresult set_processing(TBool state) noexcept;
    tresult process(ProcessData* data) noexcept;

    // IEditController
    int32 get_parameter_count() const noexcept { return static_cast<int32>(map_.size()); }
    tresult get_parameter_info(int32 index, ParameterInfo* info) const noexcept;
    tresult get_param_string_by_value(ParamID id, ParamValue value, TChar* string) const noexcept;
    tresult get_param_value_by_string(ParamID id, const TChar* string, ParamValue* value) const noexcept;
    ParamValue normalized_param_to_plain(ParamID id, ParamValue value) const noexcept;
    ParamValue plain_param_to_normalized(ParamID id, ParamValue plain) const noexcept;
    ParamValue get_param_normalized(ParamID id) const noexcept;
    tresult set_param_normalized(ParamID id, ParamValue value) noexcept;
    tresult set_component_handler(IComponentHandler* handler) noexcept;
    IPlugView* create_view(FIDString name) noexcept;

    // An editor gesture as the host expects it: beginEdit, performEdit (the
    // value applied to the parameter first) or endEdit on the component
    // handler. The host's UI thread, or the editor's thread without a run loop.
    void perform_gesture(const Vst3Gesture& gesture) noexcept;

private:
    // The map entry of a host parameter id, or nullptr.
    const ParamMapEntry* find(ParamID id) const noexcept;
    // A host's normalised value for one parameter; non-finite values and
    // unknown ids are ignored. Any thread.
    void apply_host_value(ParamID id, ParamValue value) noexcept;
    // Applies every point whose sample offset lies in (lo, hi].
    void apply_changes(IParameterChanges* changes, int64 lo, int64 hi) noexcept;
    // The smallest point offset in (start, end), or `end`.
    static int32 next_change(IParameterChanges* changes, int32 start, int32 end) noexcept;
    // Deactivates the plug-in if active; caller holds `lock_`.
    void deactivate_locked() noexcept;

    const Vst3Descriptor& descriptor_;
    std::atomic<uint32> ref_count_{1};

    // The interfaces the host may hold; `component_` doubles as FUnknown and
    // IPluginBase.
    Face<Vst3Instance> component_;
    Face<Vst3Instance> processor_;
    Face<Vst3Instance> controller_;
    Face<Vst3Instance> midi_mapping_;
    Face<Vst3Instance> note_expression_;
    Face<Vst3Instance> unit_info_;
    Face<Vst3Instance> context_requirements_;

    std::unique_ptr<Plugin> plugin_;
    std::shared_ptr<Params> params_;
    std::vector<ParamMapEntry> map_;                    // host order
    std::vector<std::pair<ParamID, size_t>> by_id_;     // (host id, map index), sorted by id
    std::unique_ptr<Editor> editor_;                    // null: no view; released before plugin_
    IComponentHandler* handler_ = nullptr;              // referenced while held

    // Serialises activation, processing and state loads. The audio thread
    // only ever tries it; the main thread waits for at most one block.
    mutable std::mutex lock_;
    BufferConfig config_;          // as given by setupProcessing
    bool active_ = false;          // between setActive(true) and setActive(false)
    bool sample_rate_known_ = false; // activated at least once
    // Stand-in channels for zero-frame blocks whose host pointers are null.
    std::array<float, 1> empty_block_{};
    std::array<float*, 2> empty_channels_{};
};

// ---------------------------------------------------------------------------
// The editor view: one per createView, holding a reference to its instance
// so the instance (and its editor) outlive it.

class Vst3View {
public:
    Vst3View(Vst3Instance& instance, Editor& editor) noexcept;
    ~Vst3View();
    Vst3View(const Vst3View&) = delete;
    Vst3View& operator=(const Vst3View&) = delete;

    IPlugView* as_view() noexcept { return reinterpret_cast<IPlugView*>(&face_); }

    tresult query_interface(const char* iid, void** obj) noexcept;
    uint32 add_ref() noexcept { return ref_count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32 release() noexcept;

    tresult attached(void* parent, FIDString type) noexcept;
    tresult removed() noexcept;
    tresult get_size(ViewRect* size) const noexcept;
    tresult check_size_constraint(ViewRect* rect) const noexcept;
    void set_frame(IPlugFrame* frame) noexcept { frame_ = frame; }
    // Run-loop timer: hands queued gestures to the instance on the UI thread.
    void on_timer() noexcept;

    // The editor's link on the host's run loop (GuiContext::watch/unwatch):
    // `fd` through an event handler, `on_tick` through a timer of its own.
    // False without a run loop or when the host refuses either. UI thread.
    bool watch(int fd, uint32_t period_ms, std::function<void()> on_readable, std::function<void()> on_tick);
    void unwatch() noexcept;
    // Run-loop callbacks for the link. UI thread.
    void on_fd_is_set(int fd) noexcept;
    void on_link_timer() noexcept;

private:
    class GuiContextImpl;

    // What the editor asked the run loop to serve; shared so a callback that
    // ends the watch still runs to its end.
    struct Watch {
        int fd = -1;
        std::function<void()> on_readable;
        std::function<void()> on_tick;
    };

    Face<Vst3View> face_;
    Face<Vst3View> timer_face_;                // ITimerHandler, registered while attached
    Face<Vst3View> event_face_;                // IEventHandler, registered while watched
    Face<Vst3View> link_timer_face_;           // ITimerHandler, registered while watched
    IRunLoop* run_loop_ = nullptr;             // the frame's run loop while attached; referenced
    std::shared_ptr<GuiContextImpl> context_;  // the editor's gesture path while attached
    std::shared_ptr<Watch> watch_;             // set while the run loop serves the link
    std::atomic<uint32> ref_count_{1};
    Vst3Instance& instance_;
    Editor& editor_;
    std::unique_ptr<EditorHandle> handle_; // set while attached
    IPlugFrame* frame_ = nullptr;          // the host's frame; not referenced
};

// The GUI context of an attached view. Gestures made on the host's UI thread
// (the thread that attached the view, where the run loop calls back) go to
// the component handler at once; with the host's run loop, gestures from
// any other thread wait in a short queue for the view's timer; without one
// they go to the component handler from the editor's own thread.
class Vst3View::GuiContextImpl final : public GuiContext {
public:
    GuiContextImpl(Vst3View& view, Vst3Instance& instance, bool queued) noexcept
        : view_(view), instance_(instance), queued_(queued), ui_thread_(std::this_thread::get_id()) {}
    void begin_edit(std::string_view id) override { add({Vst3Gesture::Kind::Begin, std::string(id), 0.0}); }
    void set_value(std::string_view id, float normalized) override {
        add({Vst3Gesture::Kind::Perform, std::string(id), static_cast<double>(normalized)});
    }
    void end_edit(std::string_view id) override { add({Vst3Gesture::Kind::End, std::string(id), 0.0}); }
    bool watch(int fd, uint32_t period_ms, std::function<void()> on_readable, std::function<void()> on_tick) override {
        return view_.watch(fd, period_ms, std::move(on_readable), std::move(on_tick));
    }
    void unwatch() override { view_.unwatch(); }

    // UI thread: performs every queued gesture in order.
    void deliver() {
        std::vector<Vst3Gesture> batch;
        {
            const std::lock_guard guard(lock_);
            batch.swap(queue_);
        }
        for (const Vst3Gesture& gesture : batch) {
            instance_.perform_gesture(gesture);
        }
    }

private:
    void add(Vst3Gesture gesture) {
        if (!queued_) {
            instance_.perform_gesture(gesture);
            return;
        }
        if (std::this_thread::get_id() == ui_thread_) {
            deliver(); // earlier gestures from another thread go first
            instance_.perform_gesture(gesture);
            return;
        }
        const std::lock_guard guard(lock_);
        queue_.push_back(std::move(gesture));
    }

    Vst3View& view_;
    Vst3Instance& instance_;
    const bool queued_;
    const std::thread::id ui_thread_;
    std::mutex lock_;
    std::vector<Vst3Gesture> queue_; // guarded by lock_
};

bool is_x11_type(FIDString type) noexcept {
    return type != nullptr && std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0;
}

// --- view trampolines ------------------------------------------------------------

tresult view_query_interface(void* self, const TUID iid, void** obj) {
    Vst3View* view = owner_of<Vst3View>(self);
    return view == nullptr ? kInvalidArgument : view->query_interface(iid, obj);
}
uint32 view_add_ref(void* self) {
    Vst3View* view = owner_of<Vst3View>(self);
    return view == nullptr ? 0 : view->add_ref();
}
uint32 view_release(void* self) {
    Vst3View* view = owner_of<Vst3View>(self);
    return view == nullptr ? 0 : view->release();
}
tresult view_is_platform_type_supported(void*, FIDString type) {
    return is_x11_type(type) ? kResultTrue : kResultFalse;
}
tresult view_attached(void* self, void* parent, FIDString type) {
    Vst3View* view = owner_of<Vst3View>(self);
    return view == nullptr ? kInvalidArgument : view->attached(parent, type);
}
tresult view_removed(void* self) {
    Vst3View* view = owner_of<Vst3View>(self);
    return view == nullptr ? kInvalidArgument : view->removed();
}
tresult view_on_wheel(void*, float) { return kResultFalse; }
tresult view_on_key(void*, char16, int16, int16) { return kResultFalse; }
tresult view_get_size(void* self, ViewRect* size) {
    Vst3View* view = owner_of<Vst3View>(self);
    return view == nullptr ? kInvalidArgument : view->get_size(size);
}
tresult view_on_size(void*, ViewRect* new_size) { return new_size == nullptr ? kInvalidArgument : kResultOk; }
tresult view_on_focus(void*, TBool) { return kResultOk; }
tresult view_set_frame(void* self, IPlugFrame* frame) {
    Vst3View* view = owner_of<Vst3View>(self);
    if (view == nullptr) {
        return kInvalidArgument;
    }
    view->set_frame(frame);
    return kResultOk;
}
tresult view_can_resize(void*) { return kResultFalse; }
tresult view_check_size_constraint(void* self, ViewRect* rect) {
    Vst3View* view = owner_of<Vst3View>(self);
    return view == nullptr ? kInvalidArgument : view->check_size_constraint(rect);
}

tresult timer_query_interface(void* self, const TUID iid, void** obj) {
    Vst3View* view = owner_of<Vst3View>(self);
    if (view == nullptr || obj == nullptr) {
        return kInvalidArgument;
    }
    *obj = nullptr;
    if (iid == nullptr || (!uid_equals(iid, FUnknown_iid) && !uid_equals(iid, ITimerHandler_iid))) {
        return kNoInterface;
    }
    view->add_ref();
    *obj = self;
    return kResultOk;
}
void timer_on_timer(void* self) {
    if (Vst3View* view = owner_of<Vst3View>(self)) {
        view->on_timer();
    }
}

const ITimerHandlerVtbl timer_vtbl = {timer_query_interface, view_add_ref, view_release, timer_on_timer};

void link_timer_on_timer(void* self) {
    if (Vst3View* view = owner_of<Vst3View>(self)) {
        view->on_link_timer();
    }
}

const ITimerHandlerVtbl link_timer_vtbl = {timer_query_interface, view_add_ref, view_release, link_timer_on_timer};

tresult event_query_interface(void* self, const TUID iid, void** obj) {
    Vst3View* view = owner_of<Vst3View>(self);
    if (view == nullptr || obj == nullptr) {
        return kInvalidArgument;
    }
    *obj = nullptr;
    if (iid == nullptr || (!uid_equals(iid, FUnknown_iid) && !uid_equals(iid, IEventHandler_iid))) {
        return kNoInterface;
    }
    view->add_ref();
    *obj = self;
    return kResultOk;
}
void event_on_fd_is_set(void* self, int fd) {
    if (Vst3View* view = owner_of<Vst3View>(self)) {
        view->on_fd_is_set(fd);
    }
}

const IEventHandlerVtbl event_vtbl = {event_query_interface, view_add_ref, view_release, event_on_fd_is_set};

const IPlugViewVtbl view_vtbl = {
    view_query_interface, view_add_ref,  view_release,        view_is_platform_type_supported,
    view_attached,        view_removed,  view_on_wheel,       view_on_key,
    view_on_key,          view_get_size, view_on_size,        view_on_focus,
    view_set_frame,       view_can_resize, view_check_size_constraint,
};

// --- instance trampolines --------------------------------------------------------
// Shared FUnknown entries: every face of an instance leads to the same object.

tresult inst_query_interface(void* self, const TUID iid, void** obj) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->query_interface(iid, obj);
}
uint32 inst_add_ref(void* self) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? 0 : inst->add_ref();
}
uint32 inst_release(void* self) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? 0 : inst->release();
}
tresult inst_initialize(void* self, void* context) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->initialize(context);
}
tresult inst_terminate(void* self) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->terminate();
}
tresult inst_set_state(void* self, IBStream* state) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->load_state(state);
}
tresult inst_get_state(void* self, IBStream* state) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->save_state(state);
}

// IComponent
tresult comp_get_controller_class_id(void*, TUID) {
    // Processor and controller are one object: there is no separate class.
    return kNotImplemented;
}
tresult comp_set_io_mode(void*, IoMode) { return kResultOk; }
int32 comp_get_bus_count(void* self, MediaType type, BusDirection dir) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? 0 : inst->get_bus_count(type, dir);
}
tresult comp_get_bus_info(void* self, MediaType type, BusDirection dir, int32 index, BusInfo* bus) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->get_bus_info(type, dir, index, bus);
}
tresult comp_get_routing_info(void*, RoutingInfo*, RoutingInfo*) { return kNotImplemented; }
tresult comp_activate_bus(void* self, MediaType type, BusDirection dir, int32 index, TBool state) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->activate_bus(type, dir, index, state);
}
tresult comp_set_active(void* self, TBool state) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->set_active(state);
}

const IComponentVtbl component_vtbl = {
    inst_query_interface,  inst_add_ref,      inst_release,       inst_initialize,
    inst_terminate,        comp_get_controller_class_id,          comp_set_io_mode,
    comp_get_bus_count,    comp_get_bus_info, comp_get_routing_info, comp_activate_bus,
    comp_set_active,       inst_set_state,    inst_get_state,
};

// IAudioProcessor
tresult proc_set_bus_arrangements(void* self, SpeakerArrangement* inputs, int32 num_ins,
                                  SpeakerArrangement* outputs, int32 num_outs) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->set_bus_arrangements(inputs, num_ins, outputs, num_outs);
}
tresult proc_get_bus_arrangement(void* self, BusDirection dir, int32 index, SpeakerArrangement* arr) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->get_bus_arrangement(dir, index, arr);
}
tresult proc_can_process_sample_size(void*, int32 size) { return size == kSample32 ? kResultTrue : kResultFalse; }
uint32 proc_get_latency_samples(void*) { return 0; }
tresult proc_setup_processing(void* self, ProcessSetup* setup) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->setup_processing(setup);
}
tresult proc_set_processing(void* self, TBool state) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->set_processing(state);
}
tresult proc_process(void* self, ProcessData* data) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->process(data);
}
uint32 proc_get_tail_samples(void*) { return 0; }

const IAudioProcessorVtbl processor_vtbl = {
    inst_query_interface,      inst_add_ref,          inst_release,
    proc_set_bus_arrangements, proc_get_bus_arrangement, proc_can_process_sample_size,
    proc_get_latency_samples,  proc_setup_processing, proc_set_processing,
    proc_process,              proc_get_tail_samples,
};

// IEditController
int32 ctrl_get_parameter_count(void* self) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? 0 : inst->get_parameter_count();
}
tresult ctrl_get_parameter_info(void* self, int32 index, ParameterInfo* info) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->get_parameter_info(index, info);
}
tresult ctrl_get_param_string_by_value(void* self, ParamID id, ParamValue value, String128 string) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->get_param_string_by_value(id, value, string);
}
tresult ctrl_get_param_value_by_string(void* self, ParamID id, TChar* string, ParamValue* value) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->get_param_value_by_string(id, string, value);
}
ParamValue ctrl_normalized_param_to_plain(void* self, ParamID id, ParamValue value) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? 0.0 : inst->normalized_param_to_plain(id, value);
}
ParamValue ctrl_plain_param_to_normalized(void* self, ParamID id, ParamValue plain) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? 0.0 : inst->plain_param_to_normalized(id, plain);
}
ParamValue ctrl_get_param_normalized(void* self, ParamID id) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? 0.0 : inst->get_param_normalized(id);
}
tresult ctrl_set_param_normalized(void* self, ParamID id, ParamValue value) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->set_param_normalized(id, value);
}
tresult ctrl_set_component_handler(void* self, IComponentHandler* handler) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? kInvalidArgument : inst->set_component_handler(handler);
}
IPlugView* ctrl_create_view(void* self, FIDString name) {
    Vst3Instance* inst = owner_of<Vst3Instance>(self);
    return inst == nullptr ? nullptr : inst->create_view(name);
}

// In one component the controller's state is the component's state: the
// controller reads and writes the same text, and loading it is the same load.
const IEditControllerVtbl controller_vtbl = {
    inst_query_interface,           inst_add_ref,
    inst_release,                   inst_initialize,
    inst_terminate,                 inst_set_state,
    inst_set_state,                 inst_get_state,
    ctrl_get_parameter_count,       ctrl_get_parameter_info,
    ctrl_get_param_string_by_value, ctrl_get_param_value_by_string,
    ctrl_normalized_param_to_plain, ctrl_plain_param_to_normalized,
    ctrl_get_param_normalized,      ctrl_set_param_normalized,
    ctrl_set_component_handler,     ctrl_create_view,
};

// IMidiMapping: no MIDI input, so no controller is assigned to anything.
tresult midi_get_midi_controller_assignment(void*, int32, int16, CtrlNumber, ParamID* id) {
    return id == nullptr ? kInvalidArgument : kResultFalse;
}

const IMidiMappingVtbl midi_mapping_vtbl = {
    inst_query_interface, inst_add_ref, inst_release, midi_get_midi_controller_assignment,
};

// INoteExpressionController: no note input, so no note expressions.
int32 note_get_count(void*, int32, int16) { return 0; }
tresult note_get_info(void*, int32, int16, int32, NoteExpressionTypeInfo*) { return kInvalidArgument; }
tresult note_string_by_value(void*, int32, int16, NoteExpressionTypeID, NoteExpressionValue, String128) {
    return kInvalidArgument;
}
tresult note_value_by_string(void*, int32, int16, NoteExpressionTypeID, const TChar*, NoteExpressionValue*) {
    return kInvalidArgument;
}

const INoteExpressionControllerVtbl note_expression_vtbl = {
    inst_query_interface, inst_add_ref, inst_release, note_get_count,
    note_get_info,        note_string_by_value, note_value_by_string,
};

// IUnitInfo: every parameter sits in the root unit; there are no program lists.
int32 unit_get_unit_count(void*) { return 1; }
tresult unit_get_unit_info(void*, int32 index, UnitInfo* info) {
    if (index != 0 || info == nullptr) {
        return kInvalidArgument;
    }
    info->id = kRootUnitId;
    info->parent_unit_id = kNoParentUnitId;
    vst3_text::copy_to_field("Root", info->name);
    info->program_list_id = kNoProgramListId;
    return kResultOk;
}
int32 unit_get_program_list_count(void*) { return 0; }
tresult unit_get_program_list_info(void*, int32, ProgramListInfo*) { return kInvalidArgument; }
tresult unit_get_program_name(void*, ProgramListID, int32, String128) { return kInvalidArgument; }
tresult unit_get_program_info(void*, ProgramListID, int32, const char8*, String128) { return kInvalidArgument; }
tresult unit_has_program_pitch_names(void*, ProgramListID, int32) { return kResultFalse; }
tresult unit_get_program_pitch_name(void*, ProgramListID, int32, int16, String128) { return kInvalidArgument; }
UnitID unit_get_selected_unit(void*) { return kRootUnitId; }
tresult unit_select_unit(void*, UnitID id) { return id == kRootUnitId ? kResultOk : kInvalidArgument; }
tresult unit_get_unit_by_bus(void*, MediaType, BusDirection, int32, int32, UnitID*) { return kResultFalse; }
tresult unit_set_unit_program_data(void*, int32, int32, IBStream*) { return kNotImplemented; }

const IUnitInfoVtbl unit_info_vtbl = {
    inst_query_interface,         inst_add_ref,
    inst_release,                 unit_get_unit_count,
    unit_get_unit_info,           unit_get_program_list_count,
    unit_get_program_list_info,   unit_get_program_name,
    unit_get_program_info,        unit_has_program_pitch_names,
    unit_get_program_pitch_name,  unit_get_selected_unit,
    unit_select_unit,             unit_get_unit_by_bus,
    unit_set_unit_program_data,
};

// IProcessContextRequirements: the plug-in reads the tempo and the playing flag.
uint32 ctx_get_process_context_requirements(void*) { return kNeedTempo | kNeedTransportState; }

const IProcessContextRequirementsVtbl context_requirements_vtbl = {
    inst_query_interface, inst_add_ref, inst_release, ctx_get_process_context_requirements,
};

// ---------------------------------------------------------------------------

ProcessMode process_mode_from(int32 mode) noexcept {
    switch (mode) {
    case kPrefetch:
        return ProcessMode::Buffered;
    case kOffline:
        return ProcessMode::Offline;
    default:
        return ProcessMode::Realtime;
    }
}

// The host transport of one call: the playing flag, and the tempo when the
// host marks it valid and it is a finite number.
Transport transport_from(const ProcessContext* context) noexcept {
    Transport transport;
    if (context == nullptr) {
        return transport;
    }
    transport.playing = (context->state & kPlaying) != 0;
    if ((context->state & kTempoValid) != 0 && std::isfinite(context->tempo)) {
        transport.tempo = context->tempo;
    }
    return transport;
}

// The two channel pointers of a bus, when it has at least two non-null ones.
bool stereo_channels(int32 bus_count, const AudioBusBuffers* buses, std::array<float*, 2>& out) noexcept {
    if (bus_count < 1 || buses == nullptr || buses[0].num_channels < 2 || buses[0].channel_buffers32 == nullptr) {
        return false;
    }
    out = {buses[0].channel_buffers32[0], buses[0].channel_buffers32[1]};
    return out[0] != nullptr && out[1] != nullptr;
}

// Copies the input bus to the output bus where they are separate buffers, or
// silences the output when there is no usable input: the state every block
// starts from, and what a block that cannot be processed leaves behind.
void pass_through(const ProcessData& data) noexcept {
    std::array<float*, 2> out{};
    if (data.num_samples <= 0 || !stereo_channels(data.num_outputs, data.outputs, out)) {
        return;
    }
    const auto bytes = static_cast<size_t>(data.num_samples) * sizeof(float);
    std::array<float*, 2> in{};
    if (stereo_channels(data.num_inputs, data.inputs, in)) {
        for (size_t c = 0; c < 2; ++c) {
            if (in[c] != out[c]) {
                std::memmove(out[c], in[c], bytes);
            }
        }
    } else {
        std::memset(out[0], 0, bytes);
        std::memset(out[1], 0, bytes);
    }
}

// --- Vst3Instance --------------------------------------------------------------

Vst3Instance::Vst3Instance(const Vst3Descriptor& descriptor)
    : descriptor_(descriptor),
      component_{&component_vtbl, this},
      processor_{&processor_vtbl, this},
      controller_{&controller_vtbl, this},
      midi_mapping_{&midi_mapping_vtbl, this},
      note_expression_{&note_expression_vtbl, this},
      unit_info_{&unit_info_vtbl, this},
      context_requirements_{&context_requirements_vtbl, this} {
    if (descriptor.create_plugin == nullptr) {
        throw std::invalid_argument("no plug-in constructor");
    }
    plugin_ = descriptor.create_plugin();
    if (!plugin_) {
        throw std::runtime_error("plug-in constructor returned nothing");
    }
    params_ = plugin_->params();
    if (!params_) {
        throw std::runtime_error("plug-in has no parameter set");
    }
    map_ = params_->param_map();
    by_id_.reserve(map_.size());
    for (size_t i = 0; i < map_.size(); ++i) {
        if (map_[i].param != nullptr) {
            by_id_.emplace_back(param_id_hash(map_[i].id), i);
        }
    }
    std::sort(by_id_.begin(), by_id_.end());
    editor_ = plugin_->editor();
}

Vst3Instance::~Vst3Instance() {
    {
        std::lock_guard guard(lock_);
        deactivate_locked();
    }
    if (handler_ != nullptr) {
        handler_->vtbl->release(handler_);
    }
    editor_.reset();
}

tresult Vst3Instance::query_interface(const char* iid, void** obj) noexcept {
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    *obj = nullptr;
    if (iid == nullptr) {
        return kInvalidArgument;
    }
    Face<Vst3Instance>* face = nullptr;
    if (uid_equals(iid, FUnknown_iid) || uid_equals(iid, IPluginBase_iid) || uid_equals(iid, IComponent_iid)) {
        face = &component_;
    } else if (uid_equals(iid, IAudioProcessor_iid)) {
        face = &processor_;
    } else if (uid_equals(iid, IEditController_iid)) {
        face = &controller_;
    } else if (uid_equals(iid, IMidiMapping_iid)) {
        face = &midi_mapping_;
    } else if (uid_equals(iid, INoteExpressionController_iid)) {
        face = &note_expression_;
    } else if (uid_equals(iid, IUnitInfo_iid)) {
        face = &unit_info_;
    } else if (uid_equals(iid, IProcessContextRequirements_iid)) {
        face = &context_requirements_;
    } else {
        return kNoInterface;
    }
    add_ref();
    *obj = face;
    return kResultOk;
}

uint32 Vst3Instance::release() noexcept {
    const uint32 left = ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult Vst3Instance::initialize(void* context) noexcept {
    // The host context offers nothing the plug-in needs. In one component the
    // host may initialise through both the component and the controller.
    (void)context;
    return kResultOk;
}

tresult Vst3Instance::terminate() noexcept {
    std::lock_guard guard(lock_);
    deactivate_locked();
    if (handler_ != nullptr) {
        handler_->vtbl->release(handler_);
        handler_ = nullptr;
    }
    return kResultOk;
}

int32 Vst3Instance::get_bus_count(MediaType type, BusDirection dir) const noexcept {
    return (type == kAudio && (dir == kInput || dir == kOutput)) ? 1 : 0;
}

tresult Vst3Instance::get_bus_info(MediaType type, BusDirection dir, int32 index, BusInfo* bus) const noexcept {
    if (bus == nullptr || type != kAudio || (dir != kInput && dir != kOutput) || index != 0) {
        return kInvalidArgument;
    }
    bus->media_type = kAudio;
    bus->direction = dir;
    bus->channel_count = 2;
    vst3_text::copy_to_field(dir == kInput ? "Input" : "Output", bus->name);
    bus->bus_type = kMain;
    bus->flags = kDefaultActive;
    return kResultOk;
}

tresult Vst3Instance::activate_bus(MediaType type, BusDirection dir, int32 index, TBool state) noexcept {
    (void)state;
    // Both buses are always in use; a host switching one off sends null
    // buffers, which processing tolerates.
    if (type != kAudio || (dir != kInput && dir != kOutput) || index != 0) {
        return kInvalidArgument;
    }
    return kResultOk;
}

void Vst3Instance::deactivate_locked() noexcept {
    if (!active_) {
        return;
    }
    active_ = false;
    try {
        plugin_->deactivate();
    } catch (...) {
    }
}

tresult Vst3Instance::set_active(TBool state) noexcept {
    std::lock_guard guard(lock_);
    if (state == 0) {
        deactivate_locked();
        return kResultOk;
    }
    if (active_) {
        return kResultOk;
    }
    try {
        if (!plugin_->initialize(AudioIOLayout{}, config_)) {
            return kResultFalse;
        }
    } catch (...) {
        return kInternalError;
    }
    active_ = true;
    sample_rate_known_ = true;
    return kResultOk;
}

tresult Vst3Instance::load_state(IBStream* stream) noexcept {
    if (stream == nullptr) {
        return kInvalidArgument;
    }
    try {
        const std::optional<std::string> text = read_vst3_state(stream);
        if (!text) {
            return kResultFalse;
        }
        const StateParseResult parsed = parse_state_json(*text);
        if (!parsed.state) {
            return kResultFalse;
        }
        {
            std::lock_guard guard(lock_);
            apply_state(*params_, *parsed.state);
            if (sample_rate_known_) {
                // New values may change what the engine holds (buffer sizes,
                // oscillator banks), so it is prepared and cleared again.
                plugin_->initialize(AudioIOLayout{}, config_);
                ScopedFlushDenormals ftz;
                plugin_->reset();
            }
        }
        if (editor_) {
            editor_->param_values_changed();
        }
        return kResultOk;
    } catch (...) {
        return kInternalError;
    }
}

tresult Vst3Instance::save_state(IBStream* stream) const noexcept {
    if (stream == nullptr) {
        return kInvalidArgument;
    }
    try {
        const std::string text = write_state_json(*params_, descriptor_.version);
        return write_vst3_state(stream, text) ? kResultOk : kResultFalse;
    } catch (...) {
        return kInternalError;
    }
}

tresult Vst3Instance::set_bus_arrangements(const SpeakerArrangement* inputs, int32 num_ins,
                                           const SpeakerArrangement* outputs, int32 num_outs) const noexcept {
    // One stereo input and one stereo output, nothing else: anything different
    // is refused and the stereo arrangement stays.
    if (num_ins != 1 || num_outs != 1 || inputs == nullptr || outputs == nullptr) {
        return kResultFalse;
    }
    return (inputs[0] == kSpeakerArrStereo && outputs[0] == kSpeakerArrStereo) ? kResultTrue : kResultFalse;
}

tresult Vst3Instance::get_bus_arrangement(BusDirection dir, int32 index, SpeakerArrangement* arr) const noexcept {
    if (arr == nullptr || (dir != kInput && dir != kOutput) || index != 0) {
        return kInvalidArgument;
    }
    *arr = kSpeakerArrStereo;
    return kResultOk;
}

tresult Vst3Instance::setup_processing(const ProcessSetup* setup) noexcept {
    if (setup == nullptr) {
        return kInvalidArgument;
    }
    if (setup->symbolic_sample_size != kSample32) {
        return kResultFalse;
    }
    const auto rate = static_cast<float>(setup->sample_rate);
    if (!std::isfinite(rate) || rate <= 0.0f || setup->max_samples_per_block < 0) {
        return kInvalidArgument;
    }
    std::lock_guard guard(lock_);
    if (active_) {
        // The setup belongs to the inactive state; an active instance keeps its own.
        return kResultFalse;
    }
    config_.sample_rate = rate;
    config_.max_buffer_size = static_cast<uint32_t>(setup->max_samples_per_block);
    config_.min_buffer_size = std::min<uint32_t>(1, config_.max_buffer_size);
    config_.process_mode = process_mode_from(setup->process_mode);
    return kResultOk;
}

tresult Vst3Instance::set_processing(TBool state) noexcept {
    std::lock_guard guard(lock_);
    // Stopping needs nothing; processing itself only requires activation,
    // since some hosts process without announcing it.
    if (state == 0) {
        return kResultOk;
    }
    if (!active_) {
        return kNotInitialized;
    }
    try {
        ScopedFlushDenormals ftz;
        plugin_->reset();
    } catch (...) {
        return kInternalError;
    }
    return kResultOk;
}

const ParamMapEntry* Vst3Instance::find(ParamID id) const noexcept {
    const auto it = std::lower_bound(by_id_.begin(), by_id_.end(), id,
                                     [](const std::pair<ParamID, size_t>& e, ParamID key) { return e.first < key; });
    if (it == by_id_.end() || it->first != id) {
        return nullptr;
    }
    return &map_[it->second];
}

void Vst3Instance::apply_host_value(ParamID id, ParamValue value) noexcept {
    // A non-finite value would otherwise be clamped into a real setting
    // (+inf to the top of the range) or poison the parameter.
    if (!std::isfinite(value)) {
        return;
    }
    const ParamMapEntry* entry = find(id);
    if (entry == nullptr) {
        return;
    }
    entry->param->set_normalized_value(static_cast<float>(std::clamp(value, 0.0, 1.0)));
}

void Vst3Instance::apply_changes(IParameterChanges* changes, int64 lo, int64 hi) noexcept {
    if (changes == nullptr) {
        return;
    }
    const int32 queues = changes->vtbl->get_parameter_count(changes);
    for (int32 q = 0; q < queues; ++q) {
        IParamValueQueue* queue = changes->vtbl->get_parameter_data(changes, q);
        if (queue == nullptr) {
            continue;
        }
        const ParamID id = queue->vtbl->get_parameter_id(queue);
        const int32 points = queue->vtbl->get_point_count(queue);
        for (int32 p = 0; p < points; ++p) {
            int32 offset = 0;
            ParamValue value = 0.0;
            if (queue->vtbl->get_point(queue, p, &offset, &value) != kResultOk) {
                continue;
            }
            if (offset > lo && offset <= hi) {
                apply_host_value(id, value);
            }
        }
    }
}

int32 Vst3Instance::next_change(IParameterChanges* changes, int32 start, int32 end) noexcept {
    if (changes == nullptr) {
        return end;
    }
    int32 next = end;
    const int32 queues = changes->vtbl->get_parameter_count(changes);
    for (int32 q = 0; q < queues; ++q) {
        IParamValueQueue* queue = changes->vtbl->get_parameter_data(changes, q);
        if (queue == nullptr) {
            continue;
        }
        const int32 points = queue->vtbl->get_point_count(queue);
        for (int32 p = 0; p < points; ++p) {
            int32 offset = 0;
            ParamValue value = 0.0;
            if (queue->vtbl->get_point(queue, p, &offset, &value) == kResultOk && offset > start && offset < next) {
                next = offset;
            }
        }
    }
    return next;
}

tresult Vst3Instance::process(ProcessData* data) noexcept {
    if (data == nullptr || data->num_samples < 0) {
        return kInvalidArgument;
    }
    constexpr int64 before_all = std::numeric_limits<int64>::min();
    constexpr int64 after_all = std::numeric_limits<int64>::max();
    IParameterChanges* changes = data->input_parameter_changes;

    // Never wait on the audio thread: while the main thread holds the lock
    // (a state load, an activation) this block only takes the host's values.
    std::unique_lock guard(lock_, std::try_to_lock);
    if (!guard.owns_lock()) {
        apply_changes(changes, before_all, after_all);
        if (data->symbolic_sample_size == kSample32) {
            pass_through(*data);
        }
        return kResultOk;
    }
    if (data->symbolic_sample_size != kSample32) {
        apply_changes(changes, before_all, after_all);
        return kInvalidArgument;
    }
    if (!active_) {
        apply_changes(changes, before_all, after_all);
        pass_through(*data);
        return kNotInitialized;
    }

    ScopedFlushDenormals ftz;
    const Transport transport = transport_from(data->process_context);
    const int32 n = data->num_samples;
    std::array<float*, 2> out{};
    const bool stereo = stereo_channels(data->num_outputs, data->outputs, out);

    try {
        if (n == 0 || !stereo) {
            // A parameter flush or a call without usable buffers: the values
            // still land, and the plug-in still sees its (empty) block. A
            // zero-frame call on a stereo bus stays a stereo block even when
            // the host left the channel pointers null; nothing is read or
            // written through them.
            apply_changes(changes, before_all, after_all);
            const bool stereo_bus = data->num_outputs >= 1 && data->outputs != nullptr &&
                                    data->outputs[0].num_channels >= 2 &&
                                    data->outputs[0].channel_buffers32 != nullptr;
            std::span<float* const> channels;
            if (stereo) {
                channels = out;
            } else if (n == 0 && stereo_bus) {
                empty_channels_ = {empty_block_.data(), empty_block_.data()};
                channels = empty_channels_;
            }
            AudioBuffer buffer{channels, 0};
            plugin_->process(buffer, transport);
            return kResultOk;
        }

        // In place: start from the input when the host gave separate buffers.
        pass_through(*data);

        // Split at every change inside the block: the points at or before a
        // piece's first sample are applied before it runs, so a change at
        // offset k takes effect at sample k. Points beyond the block land last.
        int64 applied_up_to = before_all;
        int32 start = 0;
        while (start < n) {
            apply_changes(changes, applied_up_to, start);
            applied_up_to = start;
            const int32 end = next_change(changes, start, n);
            const std::array<float*, 2> piece{out[0] + start, out[1] + start};
            AudioBuffer buffer{piece, static_cast<uint32_t>(end - start)};
            plugin_->process(buffer, transport);
            start = end;
        }
        apply_changes(changes, applied_up_to, after_all);
        data->outputs[0].silence_flags = 0;
        return kResultOk;
    } catch (...) {
        return kInternalError;
    }
}

tresult Vst3Instance::get_parameter_info(int32 index, ParameterInfo* info) const noexcept {
    if (info == nullptr || index < 0 || static_cast<size_t>(index) >= map_.size() || map_[index].param == nullptr) {
        return kInvalidArgument;
    }
    const Vst3ParamFacts facts = vst3_param_facts(map_[static_cast<size_t>(index)]);
    info->id = facts.id;
    vst3_text::copy_to_field(facts.title, info->title);
    vst3_text::copy_to_field(facts.short_title, info->short_title);
    vst3_text::copy_to_field(facts.units, info->units);
    info->step_count = facts.step_count;
    info->default_normalized_value = facts.default_normalized;
    info->unit_id = facts.unit_id;
    info->flags = kCanAutomate;
    return kResultOk;
}

tresult Vst3Instance::get_param_string_by_value(ParamID id, ParamValue value, TChar* string) const noexcept {
    const ParamMapEntry* entry = find(id);
    if (entry == nullptr || string == nullptr || !std::isfinite(value)) {
        return kInvalidArgument;
    }
    try {
        vst3_text::copy_to_field(vst3_value_to_text(*entry->param, value), string, 128);
        return kResultOk;
    } catch (...) {
        return kInternalError;
    }
}

tresult Vst3Instance::get_param_value_by_string(ParamID id, const TChar* string, ParamValue* value) const noexcept {
    const ParamMapEntry* entry = find(id);
    if (entry == nullptr || string == nullptr || value == nullptr) {
        return kInvalidArgument;
    }
    try {
        const std::optional<double> n =
            vst3_text_to_normalized(*entry->param, vst3_text::to_utf8(string, max_typed_text_units));
        if (!n) {
            return kResultFalse;
        }
        *value = *n;
        return kResultOk;
    } catch (...) {
        return kInternalError;
    }
}

ParamValue Vst3Instance::normalized_param_to_plain(ParamID id, ParamValue value) const noexcept {
    const ParamMapEntry* entry = find(id);
    if (entry == nullptr) {
        return value;
    }
    const float n = std::isnan(value) ? 0.0f : static_cast<float>(std::clamp(value, 0.0, 1.0));
    const Param* param = entry->param;
    if (const auto* f = dynamic_cast<const FloatParam*>(param)) {
        return static_cast<double>(f->preview_plain(n));
    }
    if (const auto* i = dynamic_cast<const IntParam*>(param)) {
        return static_cast<double>(i->preview_plain(n));
    }
    if (const auto* e = dynamic_cast<const EnumParam*>(param)) {
        return static_cast<double>(e->preview_plain(n));
    }
    if (const auto* b = dynamic_cast<const BoolParam*>(param)) {
        return b->preview_plain(n) ? 1.0 : 0.0;
    }
    return static_cast<double>(n);
}

ParamValue Vst3Instance::plain_param_to_normalized(ParamID id, ParamValue plain) const noexcept {
    const ParamMapEntry* entry = find(id);
    if (entry == nullptr) {
        return plain;
    }
    if (std::isnan(plain)) {
        return 0.0;
    }
    // Integers are rounded to the nearest value inside the 32-bit range first.
    const auto as_int = [plain] {
        const double r = std::round(std::clamp(plain, -2147483648.0, 2147483647.0));
        return static_cast<int32_t>(r);
    };
    const Param* param = entry->param;
    if (const auto* f = dynamic_cast<const FloatParam*>(param)) {
        const double limited = std::clamp(plain, static_cast<double>(std::numeric_limits<float>::lowest()),
                                          static_cast<double>(std::numeric_limits<float>::max()));
        return static_cast<double>(f->preview_normalized(static_cast<float>(limited)));
    }
    if (const auto* i = dynamic_cast<const IntParam*>(param)) {
        return static_cast<double>(i->preview_normalized(as_int()));
    }
    if (const auto* e = dynamic_cast<const EnumParam*>(param)) {
        return static_cast<double>(e->preview_normalized(as_int()));
    }
    if (const auto* b = dynamic_cast<const BoolParam*>(param)) {
        return static_cast<double>(b->preview_normalized(plain > 0.5));
    }
    return std::clamp(plain, 0.0, 1.0);
}

ParamValue Vst3Instance::get_param_normalized(ParamID id) const noexcept {
    const ParamMapEntry* entry = find(id);
    return entry == nullptr ? 0.0 : static_cast<double>(entry->param->normalized_value());
}

tresult Vst3Instance::set_param_normalized(ParamID id, ParamValue value) noexcept {
    const ParamMapEntry* entry = find(id);
    if (entry == nullptr || !std::isfinite(value)) {
        return kInvalidArgument;
    }
    apply_host_value(id, value);
    if (editor_) {
        try {
            editor_->param_value_changed(entry->id, entry->param->normalized_value());
        } catch (...) {
        }
    }
    return kResultOk;
}

tresult Vst3Instance::set_component_handler(IComponentHandler* handler) noexcept {
    if (handler == handler_) {
        return kResultOk;
    }
    if (handler != nullptr) {
        handler->vtbl->add_ref(handler);
    }
    if (handler_ != nullptr) {
        handler_->vtbl->release(handler_);
    }
    handler_ = handler;
    return kResultOk;
}

void Vst3Instance::perform_gesture(const Vst3Gesture& gesture) noexcept {
    const ParamMapEntry* entry = find_param_entry(map_, gesture.id);
    if (entry == nullptr || entry->param == nullptr) {
        return;
    }
    const ParamID id = param_id_hash(entry->id);
    switch (gesture.kind) {
    case Vst3Gesture::Kind::Begin:
        if (handler_ != nullptr) {
            handler_->vtbl->begin_edit(handler_, id);
        }
        break;
    case Vst3Gesture::Kind::Perform: {
        apply_host_value(id, gesture.normalized);
        if (handler_ != nullptr) {
            handler_->vtbl->perform_edit(handler_, id, static_cast<ParamValue>(entry->param->normalized_value()));
        }
        break;
    }
    case Vst3Gesture::Kind::End:
        if (handler_ != nullptr) {
            handler_->vtbl->end_edit(handler_, id);
        }
        break;
    }
}

IPlugView* Vst3Instance::create_view(FIDString name) noexcept {
    if (!editor_ || name == nullptr || std::strcmp(name, kEditorViewType) != 0) {
        return nullptr;
    }
    auto* view = new (std::nothrow) Vst3View(*this, *editor_);
    return view == nullptr ? nullptr : view->as_view();
}

// --- Vst3View ----------------------------------------------------------------------

Vst3View::Vst3View(Vst3Instance& instance, Editor& editor) noexcept
    : face_{&view_vtbl, this}, timer_face_{&timer_vtbl, this}, event_face_{&event_vtbl, this},
      link_timer_face_{&link_timer_vtbl, this}, instance_(instance), editor_(editor) {
    instance_.add_ref();
}

Vst3View::~Vst3View() {
    if (handle_) {
        removed();
    }
    instance_.release();
}

void Vst3View::on_timer() noexcept {
    if (context_) {
        try {
            context_->deliver();
        } catch (...) {
        }
    }
}

bool Vst3View::watch(int fd, uint32_t period_ms, std::function<void()> on_readable, std::function<void()> on_tick) {
    if (run_loop_ == nullptr || watch_ || fd < 0 || !on_readable || !on_tick) {
        return false;
    }
    auto watch = std::make_shared<Watch>(Watch{fd, std::move(on_readable), std::move(on_tick)});
    auto* events = reinterpret_cast<IEventHandler*>(&event_face_);
    if (run_loop_->vtbl->register_event_handler(run_loop_, events, fd) != kResultOk) {
        return false;
    }
    if (run_loop_->vtbl->register_timer(run_loop_, reinterpret_cast<ITimerHandler*>(&link_timer_face_),
                                        std::max<uint64_t>(period_ms, 1)) != kResultOk) {
        run_loop_->vtbl->unregister_event_handler(run_loop_, events);
        return false;
    }
    watch_ = std::move(watch);
    return true;
}

void Vst3View::unwatch() noexcept {
    if (!watch_ || run_loop_ == nullptr) {
        return;
    }
    run_loop_->vtbl->unregister_event_handler(run_loop_, reinterpret_cast<IEventHandler*>(&event_face_));
    run_loop_->vtbl->unregister_timer(run_loop_, reinterpret_cast<ITimerHandler*>(&link_timer_face_));
    watch_.reset();
}

void Vst3View::on_fd_is_set(int fd) noexcept {
    const std::shared_ptr<Watch> watch = watch_;
    if (watch && watch->fd == fd) {
        try {
            watch->on_readable();
        } catch (...) {
        }
    }
}

void Vst3View::on_link_timer() noexcept {
    const std::shared_ptr<Watch> watch = watch_;
    if (watch) {
        try {
            watch->on_tick();
        } catch (...) {
        }
    }
}

tresult Vst3View::query_interface(const char* iid, void** obj) noexcept {
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    *obj = nullptr;
    if (iid == nullptr) {
        return kInvalidArgument;
    }
    if (!uid_equals(iid, FUnknown_iid) && !uid_equals(iid, IPlugView_iid)) {
        return kNoInterface;
    }
    add_ref();
    *obj = &face_;
    return kResultOk;
}

uint32 Vst3View::release() noexcept {
    const uint32 left = ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult Vst3View::attached(void* parent, FIDString type) noexcept {
    if (!is_x11_type(type) || parent == nullptr) {
        return kInvalidArgument;
    }
    if (handle_) {
        return kResultFalse;
    }
    try {
        // The host's run loop, when its frame offers one, carries gestures
        // to the UI thread through a timer of this view, and serves the
        // editor's link when the editor asks (watch).
        IRunLoop* run_loop = nullptr;
        if (frame_ != nullptr) {
            void* found = nullptr;
            if (frame_->vtbl->query_interface(frame_, reinterpret_cast<const char*>(IRunLoop_iid.data()), &found) ==
                    kResultOk &&
                found != nullptr) {
                run_loop = static_cast<IRunLoop*>(found);
                if (run_loop->vtbl->register_timer(run_loop, reinterpret_cast<ITimerHandler*>(&timer_face_),
                                                   gesture_timer_ms) != kResultOk) {
                    run_loop->vtbl->release(run_loop);
                    run_loop = nullptr;
                }
            }
        }
        run_loop_ = run_loop;
        context_ = std::make_shared<GuiContextImpl>(*this, instance_, run_loop_ != nullptr);
        ParentWindow window;
        window.api = ParentWindow::Api::X11;
        window.handle = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(parent));
        window.context = context_;
        handle_ = editor_.spawn(window);
    } catch (...) {
        handle_.reset();
    }
    if (!handle_) {
        removed();
        return kResultFalse;
    }
    return kResultOk;
}

tresult Vst3View::removed() noexcept {
    const bool was_attached = handle_ != nullptr;
    try {
        // The editor's threads end with the handle; gestures they queued
        // (an end_edit, typically) still reach the host.
        handle_.reset();
        on_timer();
    } catch (...) {
    }
    unwatch(); // an editor that did not end its watch
    if (run_loop_ != nullptr) {
        run_loop_->vtbl->unregister_timer(run_loop_, reinterpret_cast<ITimerHandler*>(&timer_face_));
        run_loop_->vtbl->release(run_loop_);
        run_loop_ = nullptr;
    }
    context_.reset();
    return was_attached ? kResultOk : kResultFalse;
}

tresult Vst3View::get_size(ViewRect* size) const noexcept {
    if (size == nullptr) {
        return kInvalidArgument;
    }
    try {
        const EditorSize s = editor_.size();
        size->left = 0;
        size->top = 0;
        size->right = static_cast<int32>(std::min<uint32_t>(s.width, std::numeric_limits<int32>::max()));
        size->bottom = static_cast<int32>(std::min<uint32_t>(s.height, std::numeric_limits<int32>::max()));
        return kResultOk;
    } catch (...) {
        return kInternalError;
    }
}

tresult Vst3View::check_size_constraint(ViewRect* rect) const noexcept {
    // The editor has one size: whatever the host proposes becomes it.
    if (rect == nullptr) {
        return kInvalidArgument;
    }
    ViewRect fixed{};
    if (get_size(&fixed) != kResultOk) {
        return kInternalError;
    }
    rect->right = rect->left + fixed.right;
    rect->bottom = rect->top + fixed.bottom;
    return kResultTrue;
}

} // namespace

FUnknown* create_vst3_instance(const Vst3Descriptor& descriptor) {
    auto* instance = new Vst3Instance(descriptor);
    return instance->funknown();
}

} // namespace plugin_kit
