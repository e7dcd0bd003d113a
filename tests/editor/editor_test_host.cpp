// A small X11 host for the editor tests: loads the plug-in library through
// CLAP or VST3, runs audio on its own thread, opens the editor (CLAP's gui
// extension, VST3's IPlugView) inside a plain X11 window, and drives the
// page with xdotool. Each scenario prints "PASS <name>" or "FAIL <name>:
// <why>" lines; names start with the format.
//
// Usage: editor-test-host <library> <clap|vst3> <scenario> <work dir>
// Scenarios: screenshot, drag, host-change, save-preset, cycles,
// parent-destroyed, fallback, hold.
// The host's standard error (the plug-in's log) goes to <work dir>/host.log.
//
// The host's main loop serves the plug-in's descriptors and timers (CLAP
// posix-fd-support and timer-support, VST3 IRunLoop). EDITOR_TEST_NO_MAIN_LOOP
// asks for a host without: a CLAP host offering neither extension, a VST3
// run loop that runs timers but refuses descriptors.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/abi/clap/extensions.hpp"
#include "plugin_kit/abi/clap/process.hpp"
#include "plugin_kit/abi/vst3/base.hpp"
#include "plugin_kit/abi/vst3/gui.hpp"
#include "plugin_kit/abi/vst3/vst.hpp"
#include "plugin_kit/params/param_id.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace plugin_kit::clap_abi;
using namespace std::chrono_literals;

namespace {

namespace v3 = plugin_kit::vst3_abi;

constexpr int editor_x = 20;  // the editor's place inside the host window
constexpr int editor_y = 50;
constexpr int editor_w = 900;
constexpr int editor_h = 600;
constexpr unsigned long parent_colour = 0xFF00FF; // magenta: never part of the page

int failures = 0;
std::string prefix; // the format, put before every check name

void report(bool ok, const std::string& name, const std::string& why = {}) {
    if (ok) {
        std::printf("PASS %s-%s\n", prefix.c_str(), name.c_str());
    } else {
        std::printf("FAIL %s-%s: %s\n", prefix.c_str(), name.c_str(), why.c_str());
        ++failures;
    }
    std::fflush(stdout);
}

std::string run_output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            out += buffer;
        }
        ::pclose(pipe);
    }
    return out;
}

int open_fd_count() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

// Child processes of this host that are still running (zombies excluded).
std::vector<int> live_children() {
    std::vector<int> pids;
    const std::string me = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == me && state != "Z") {
            pids.push_back(std::stoi(name));
        }
    }
    return pids;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Threads of this process named `name` (the editor's link thread is "editor-link").
int threads_named(const std::string& name) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm = read_file((entry.path() / "comm").string());
        while (!comm.empty() && comm.back() == '\n') comm.pop_back();
        if (comm == name) ++n;
    }
    return n;
}

bool main_loop_offered() { return std::getenv("EDITOR_TEST_NO_MAIN_LOOP") == nullptr; }

int env_int(const char* name) { return std::atoi(std::getenv(name) ? std::getenv(name) : "0"); }

// One gesture as the host saw it: 'b' begin, 'v' value, 'e' end.
struct Gesture {
    char kind;
    uint32_t id;
    double value;
    bool on_main_thread;
};

// ---------------------------------------------------------------------------
// What every format's host does alike: the X11 windows, the audio thread's
// loop, the main loop's pump, recorded gestures.

class EditorHost {
public:
    explicit EditorHost(std::string work) : work_(std::move(work)), main_thread_(std::this_thread::get_id()) {
        display_ = XOpenDisplay(nullptr);
        if (display_ != nullptr) {
            make_windows();
        } else {
            parent_ = 0x2a00001; // no display: a window id that exists nowhere
        }
    }
    virtual ~EditorHost() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }
    EditorHost(const EditorHost&) = delete;
    EditorHost& operator=(const EditorHost&) = delete;

    virtual bool ok() const = 0;
    virtual bool open_editor() = 0;
    virtual void close_editor() = 0;
    // The plug-in's normalised value of parameter `id`.
    virtual double value(std::string_view id) const = 0;
    // A host-side change of parameter `id`.
    virtual void set_value(std::string_view id, double value) = 0;
    // Descriptors and timers the plug-in registered with the main loop right now.
    virtual std::size_t watched() const = 0;
    // True when the format hands gestures to the host on its main thread
    // (VST3's component handler); CLAP's come with the audio blocks.
    virtual bool gestures_on_main_thread() const = 0;

    void start_audio() {
        activate();
        audio_running_ = true;
        audio_ = std::thread([this] { audio_loop(); });
    }
    void stop_audio() {
        if (audio_.joinable()) {
            audio_running_ = false;
            audio_.join();
            deactivate();
        }
    }

    // Main-thread duties for `duration`: X events, then the format's part
    // (callbacks, descriptors, timers, flushes).
    void pump(std::chrono::milliseconds duration) {
        const auto until = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < until) {
            while (display_ != nullptr && XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == Expose && event.xexpose.window == top_) {
                    draw_title();
                }
            }
            serve();
            std::this_thread::sleep_for(5ms);
        }
    }

    // Waits (pumping) until `done` holds or `timeout` passed.
    bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            if (done()) {
                return true;
            }
            pump(50ms);
        }
        return done();
    }

    std::vector<Gesture> gestures() {
        const std::lock_guard lock(gestures_mutex_);
        return gestures_;
    }
    // Times the main loop found a plug-in's descriptor readable and called it.
    int fd_calls() const { return fd_calls_; }

    bool has_display() const { return display_ != nullptr; }
    Window parent() const { return parent_; }
    Window top() const { return top_; }

    void destroy_parent() {
        XDestroyWindow(display_, parent_);
        XSync(display_, False);
    }

    std::string screenshot(const std::string& name, Window window) {
        const std::string path = work_ + "/" + name + ".png";
        std::system(("import -window " + std::to_string(window) + " " + path + " 2>/dev/null").c_str());
        return path;
    }

protected:
    virtual void serve() = 0;
    virtual void activate() = 0;
    virtual void deactivate() = 0;
    virtual void process_start() = 0;
    virtual void process_block(float* left, float* right, uint32_t frames) = 0;
    virtual void process_stop() = 0;
    virtual const char* title() const = 0;

    void record(char kind, uint32_t id, double value) {
        const std::lock_guard lock(gestures_mutex_);
        gestures_.push_back({kind, id, value, std::this_thread::get_id() == main_thread_});
    }

    // Joins the audio thread; each format's destructor calls it first.
    void end_audio() { stop_audio(); }

    std::string work_;
    Display* display_ = nullptr;
    Window top_ = 0;
    Window parent_ = 0;
    std::thread::id main_thread_;
    std::atomic<bool> audio_running_{false};
    int fd_calls_ = 0;

private:
    void make_windows() {
        const int screen = DefaultScreen(display_);
        top_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, editor_w + 2 * editor_x,
                                   editor_h + editor_y + editor_x, 0, 0, 0x30343a);
        XStoreName(display_, top_, "editor-test-host");
        XSelectInput(display_, top_, ExposureMask);
        parent_ = XCreateSimpleWindow(display_, top_, editor_x, editor_y, editor_w, editor_h, 0, 0, parent_colour);
        XMapWindow(display_, parent_);
        XMapWindow(display_, top_);
        XSync(display_, False);
    }

    void draw_title() {
        GC gc = XCreateGC(display_, top_, 0, nullptr);
        XSetForeground(display_, gc, 0xe8e8e8);
        const char* text = title();
        XDrawString(display_, top_, gc, editor_x, 30, text, static_cast<int>(std::strlen(text)));
        XFreeGC(display_, gc);
        XFlush(display_);
    }

    void audio_loop() {
        process_start();
        std::vector<float> left(256), right(256);
        double phase = 0.0;
        while (audio_running_) {
            for (std::size_t i = 0; i < left.size(); ++i) {
                left[i] = right[i] = static_cast<float>(0.25 * std::sin(phase));
                phase += 2.0 * M_PI * 220.0 / 48000.0;
            }
            process_block(left.data(), right.data(), static_cast<uint32_t>(left.size()));
            std::this_thread::sleep_for(5ms);
        }
        process_stop();
    }

    std::thread audio_;
    std::mutex gestures_mutex_;
    std::vector<Gesture> gestures_;
};

// ---------------------------------------------------------------------------
// CLAP: the library's clap_entry, the gui extension, gestures as output
// events of the audio blocks (or of params.flush while not processing).

struct HostParamsExt {
    void (*rescan)(const clap_host*, uint32_t);
    void (*clear)(const clap_host*, clap_id, uint32_t);
    void (*request_flush)(const clap_host*);
};

// posix-fd-support and timer-support as CLAP lays them out.
struct HostPosixFdExt {
    bool (*register_fd)(const clap_host*, int fd, uint32_t flags);
    bool (*modify_fd)(const clap_host*, int fd, uint32_t flags);
    bool (*unregister_fd)(const clap_host*, int fd);
};
struct PluginPosixFdExt {
    void (*on_fd)(const clap_plugin*, int fd, uint32_t flags);
};
struct HostTimerExt {
    bool (*register_timer)(const clap_host*, uint32_t period_ms, clap_id* timer_id);
    bool (*unregister_timer)(const clap_host*, clap_id timer_id);
};
struct PluginTimerExt {
    void (*on_timer)(const clap_plugin*, clap_id timer_id);
};

class ClapHost final : public EditorHost {
public:
    ClapHost(const std::string& library, const std::string& work) : EditorHost(work) {
        library_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) {
            return;
        }
        entry_ = static_cast<const clap_plugin_entry*>(::dlsym(library_, "clap_entry"));
        if (entry_ == nullptr || !entry_->init(library.c_str())) {
            entry_ = nullptr;
            return;
        }
        const auto* factory =
            static_cast<const clap_plugin_factory*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
        host_.clap_version = CLAP_VERSION_1_2_2;
        host_.host_data = this;
        host_.name = "editor-test-host";
        host_.vendor = "tests";
        host_.url = "";
        host_.version = "1";
        host_.get_extension = [](const clap_host*, const char* id) -> const void* {
            static const HostParamsExt params{[](const clap_host*, uint32_t) {},
                                              [](const clap_host*, clap_id, uint32_t) {},
                                              [](const clap_host* h) { self(h)->flush_requested_ = true; }};
            static const HostPosixFdExt fds{
                [](const clap_host* h, int fd, uint32_t) { self(h)->fds_.push_back(fd); return true; },
                [](const clap_host*, int, uint32_t) { return true; },
                [](const clap_host* h, int fd) {
                    auto& list = self(h)->fds_;
                    list.erase(std::remove(list.begin(), list.end(), fd), list.end());
                    return true;
                }};
            static const HostTimerExt timers{
                [](const clap_host* h, uint32_t period, clap_id* timer) {
                    *timer = self(h)->next_timer_++;
                    self(h)->timers_.push_back(
                        {*timer, std::chrono::milliseconds(period), std::chrono::steady_clock::now()});
                    return true;
                },
                [](const clap_host* h, clap_id timer) {
                    auto& list = self(h)->timers_;
                    list.erase(std::remove_if(list.begin(), list.end(), [&](const Timer& t) { return t.id == timer; }),
                               list.end());
                    return true;
                }};
            if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &params;
            if (main_loop_offered() && std::strcmp(id, "clap.posix-fd-support") == 0) return &fds;
            if (main_loop_offered() && std::strcmp(id, "clap.timer-support") == 0) return &timers;
            return nullptr;
        };
        host_.request_restart = [](const clap_host*) {};
        host_.request_process = [](const clap_host*) {};
        host_.request_callback = [](const clap_host* h) { self(h)->callback_requested_ = true; };
        plugin_ = factory->create_plugin(factory, &host_, factory->get_plugin_descriptor(factory, 0)->id);
        if (plugin_ == nullptr || !plugin_->init(plugin_)) {
            plugin_ = nullptr;
            return;
        }
        gui_ = static_cast<const clap_plugin_gui*>(plugin_->get_extension(plugin_, CLAP_EXT_GUI));
        params_ = static_cast<const clap_plugin_params*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
    }

    ~ClapHost() override {
        end_audio();
        if (plugin_ != nullptr) {
            close_editor();
            plugin_->destroy(plugin_);
        }
        if (entry_ != nullptr) {
            entry_->deinit();
        }
    }

    bool ok() const override { return plugin_ != nullptr && gui_ != nullptr && params_ != nullptr; }

    bool open_editor() override {
        if (!gui_->create(plugin_, CLAP_WINDOW_API_X11, false)) {
            return false;
        }
        gui_open_ = true;
        clap_window window{};
        window.api = CLAP_WINDOW_API_X11;
        window.x11 = parent_;
        return gui_->set_parent(plugin_, &window) && gui_->show(plugin_);
    }

    void close_editor() override {
        if (gui_open_) {
            gui_->destroy(plugin_);
            gui_open_ = false;
        }
    }

    double value(std::string_view id) const override {
        double v = -1.0;
        params_->get_value(plugin_, plugin_kit::param_id_hash(id), &v);
        return v;
    }

    // Delivered with the next block.
    void set_value(std::string_view id, double value) override {
        const std::lock_guard lock(in_mutex_);
        clap_event_param_value e{};
        e.header = {sizeof(e), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = plugin_kit::param_id_hash(id);
        e.note_id = -1;
        e.port_index = -1;
        e.channel = -1;
        e.key = -1;
        e.value = value;
        pending_in_.push_back(e);
    }

    std::size_t watched() const override { return fds_.size() + timers_.size(); }
    bool gestures_on_main_thread() const override { return false; }

protected:
    const char* title() const override { return "Tessellgrove - Insert 1 (CLAP) - editor-test-host"; }

    void serve() override {
        if (callback_requested_.exchange(false)) {
            plugin_->on_main_thread(plugin_);
        }
        serve_fds_and_timers();
        if (flush_requested_.exchange(false) && !audio_running_) {
            const clap_input_events in{nullptr, [](const clap_input_events*) -> uint32_t { return 0; },
                                       [](const clap_input_events*, uint32_t) -> const clap_event_header* {
                                           return nullptr;
                                       }};
            const clap_output_events out{this, &ClapHost::record_event};
            params_->flush(plugin_, &in, &out);
        }
    }

    void activate() override { plugin_->activate(plugin_, 48000.0, 1, 512); }
    void deactivate() override { plugin_->deactivate(plugin_); }
    void process_start() override { plugin_->start_processing(plugin_); }
    void process_stop() override { plugin_->stop_processing(plugin_); }

    void process_block(float* left, float* right, uint32_t frames) override {
        float* channels[2] = {left, right};
        std::vector<clap_event_param_value> events;
        {
            const std::lock_guard lock(in_mutex_);
            events.swap(pending_in_);
        }
        const clap_input_events in{&events,
                                   [](const clap_input_events* l) -> uint32_t {
                                       return static_cast<uint32_t>(
                                           static_cast<std::vector<clap_event_param_value>*>(l->ctx)->size());
                                   },
                                   [](const clap_input_events* l, uint32_t i) -> const clap_event_header* {
                                       return &(*static_cast<std::vector<clap_event_param_value>*>(l->ctx))[i].header;
                                   }};
        const clap_output_events out{this, &ClapHost::record_event};
        clap_audio_buffer input{channels, nullptr, 2, 0, 0};
        clap_audio_buffer output{channels, nullptr, 2, 0, 0};
        clap_process process{};
        process.steady_time = -1;
        process.frames_count = frames;
        process.audio_inputs = &input;
        process.audio_outputs = &output;
        process.audio_inputs_count = 1;
        process.audio_outputs_count = 1;
        process.in_events = &in;
        process.out_events = &out;
        plugin_->process(plugin_, &process);
    }

private:
    struct Timer {
        clap_id id;
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point last;
    };

    static ClapHost* self(const clap_host* h) { return static_cast<ClapHost*>(h->host_data); }

    // The main loop's part for the plug-in: readable descriptors, due timers.
    void serve_fds_and_timers() {
        const auto* fd_ext =
            static_cast<const PluginPosixFdExt*>(plugin_->get_extension(plugin_, "clap.posix-fd-support"));
        const auto* timer_ext =
            static_cast<const PluginTimerExt*>(plugin_->get_extension(plugin_, "clap.timer-support"));
        for (const int fd : std::vector<int>(fds_)) {
            pollfd polled{fd, POLLIN, 0};
            if (fd_ext != nullptr && std::find(fds_.begin(), fds_.end(), fd) != fds_.end() &&
                ::poll(&polled, 1, 0) > 0) {
                ++fd_calls_;
                fd_ext->on_fd(plugin_, fd, 1);
            }
        }
        const auto now = std::chrono::steady_clock::now();
        for (const Timer& timer : std::vector<Timer>(timers_)) {
            auto live = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.id == timer.id; });
            if (timer_ext != nullptr && live != timers_.end() && now - live->last >= live->period) {
                live->last = now;
                timer_ext->on_timer(plugin_, timer.id);
            }
        }
    }

    static bool record_event(const clap_output_events* list, const clap_event_header* event) {
        auto* host = static_cast<ClapHost*>(list->ctx);
        if (event->type == CLAP_EVENT_PARAM_VALUE) {
            const auto* e = reinterpret_cast<const clap_event_param_value*>(event);
            host->record('v', e->param_id, e->value);
        } else if (event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || event->type == CLAP_EVENT_PARAM_GESTURE_END) {
            clap_id id = 0;
            std::memcpy(&id, reinterpret_cast<const char*>(event) + sizeof(clap_event_header), sizeof id);
            host->record(event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? 'b' : 'e', id, 0.0);
        }
        return true;
    }

    void* library_ = nullptr;
    const clap_plugin_entry* entry_ = nullptr;
    clap_host host_{};
    const clap_plugin* plugin_ = nullptr;
    const clap_plugin_gui* gui_ = nullptr;
    const clap_plugin_params* params_ = nullptr;
    bool gui_open_ = false;
    std::atomic<bool> callback_requested_{false};
    std::atomic<bool> flush_requested_{false};
    std::mutex in_mutex_;
    std::vector<clap_event_param_value> pending_in_;
    std::vector<int> fds_;
    std::vector<Timer> timers_;
    clap_id next_timer_ = 1;
};

// ---------------------------------------------------------------------------
// VST3: the same library through GetPluginFactory, its component (processor
// and edit controller in one) and an IPlugView attached to the X11 window,
// with a frame that offers the Linux run loop (descriptors polled and timers
// run by this host's main loop) and a component handler that records the
// edits and the thread they came on.

const v3::Uid run_loop_iid = v3::inline_uid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);

// An interface pointer: the table is all a host sees.
template <typename Vtbl>
struct Interface {
    const Vtbl* vtbl;
};
using Component = Interface<v3::IComponentVtbl>;
using Controller = Interface<v3::IEditControllerVtbl>;
using Processor = Interface<v3::IAudioProcessorVtbl>;

bool same_iid(const char* iid, const v3::Uid& uid) { return std::memcmp(iid, uid.data(), 16) == 0; }

struct RunLoopVtbl {
    v3::tresult (*query_interface)(void* self, const v3::TUID iid, void** obj);
    v3::uint32 (*add_ref)(void* self);
    v3::uint32 (*release)(void* self);
    v3::tresult (*register_event_handler)(void* self, void* handler, int fd);
    v3::tresult (*unregister_event_handler)(void* self, void* handler);
    v3::tresult (*register_timer)(void* self, void* handler, uint64_t ms);
    v3::tresult (*unregister_timer)(void* self, void* handler);
};
struct TimerHandlerVtbl {
    v3::tresult (*query_interface)(void* self, const v3::TUID iid, void** obj);
    v3::uint32 (*add_ref)(void* self);
    v3::uint32 (*release)(void* self);
    void (*on_timer)(void* self);
};
struct EventHandlerVtbl {
    v3::tresult (*query_interface)(void* self, const v3::TUID iid, void** obj);
    v3::uint32 (*add_ref)(void* self);
    v3::uint32 (*release)(void* self);
    void (*on_fd_is_set)(void* self, int fd);
};

class Vst3Host final : public EditorHost {
public:
    Vst3Host(const std::string& library, const std::string& work) : EditorHost(work) {
        library_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) return;
        using GetFactory = void* (*)();
        auto get_factory = reinterpret_cast<GetFactory>(::dlsym(library_, "GetPluginFactory"));
        if (get_factory == nullptr) return;
        auto* factory = static_cast<v3::IPluginFactory3*>(get_factory());
        v3::PClassInfo info{};
        for (int32_t i = 0; i < factory->vtbl->count_classes(factory); ++i) {
            factory->vtbl->get_class_info(factory, i, &info);
            if (std::strcmp(info.category, v3::kVstAudioEffectClass) == 0) break;
        }
        void* component = nullptr;
        if (factory->vtbl->create_instance(factory, info.cid, reinterpret_cast<const char*>(v3::IComponent_iid.data()),
                                           &component) != v3::kResultOk) {
            return;
        }
        component_ = static_cast<Component*>(component);
        component_->vtbl->initialize(component_, nullptr);
        void* controller = nullptr;
        component_->vtbl->query_interface(component_, reinterpret_cast<const char*>(v3::IEditController_iid.data()),
                                          &controller);
        controller_ = static_cast<Controller*>(controller);
        void* processor = nullptr;
        component_->vtbl->query_interface(component_, reinterpret_cast<const char*>(v3::IAudioProcessor_iid.data()),
                                          &processor);
        processor_ = static_cast<Processor*>(processor);
        if (controller_ != nullptr) {
            controller_->vtbl->set_component_handler(controller_, reinterpret_cast<v3::IComponentHandler*>(&handler_));
        }
    }

    ~Vst3Host() override {
        end_audio();
        close_editor();
        if (controller_ != nullptr) {
            controller_->vtbl->set_component_handler(controller_, nullptr);
            controller_->vtbl->release(controller_);
        }
        if (processor_ != nullptr) {
            processor_->vtbl->release(processor_);
        }
        if (component_ != nullptr) {
            component_->vtbl->terminate(component_);
            component_->vtbl->release(component_);
        }
    }

    bool ok() const override { return controller_ != nullptr && processor_ != nullptr; }

    bool open_editor() override {
        view_ = controller_->vtbl->create_view(controller_, v3::kEditorViewType);
        if (view_ == nullptr) return false;
        view_->vtbl->set_frame(view_, reinterpret_cast<v3::IPlugFrame*>(&frame_));
        return view_->vtbl->attached(view_, reinterpret_cast<void*>(parent_), v3::kPlatformTypeX11EmbedWindowID) ==
               v3::kResultOk;
    }

    void close_editor() override {
        if (view_ != nullptr) {
            view_->vtbl->removed(view_);
            view_->vtbl->set_frame(view_, nullptr);
            view_->vtbl->release(view_);
            view_ = nullptr;
        }
    }

    double value(std::string_view id) const override {
        return controller_->vtbl->get_param_normalized(controller_, plugin_kit::param_id_hash(id));
    }
    // The host tells the edit controller (automation read, a generic editor).
    void set_value(std::string_view id, double value) override {
        controller_->vtbl->set_param_normalized(controller_, plugin_kit::param_id_hash(id), value);
    }

    std::size_t watched() const override { return event_handlers_.size() + timers_.size(); }
    bool gestures_on_main_thread() const override { return true; }
    // Run-loop timers registered right now.
    std::size_t timers() const { return timers_.size(); }

protected:
    const char* title() const override { return "Tessellgrove - Insert 1 (VST3) - editor-test-host"; }

    // The run loop: readable descriptors and due timers, each handler called
    // only while it is still registered (a callback may end others).
    void serve() override {
        for (const EventHandler& handler : std::vector<EventHandler>(event_handlers_)) {
            pollfd polled{handler.fd, POLLIN, 0};
            const bool live = std::any_of(event_handlers_.begin(), event_handlers_.end(),
                                          [&](const EventHandler& h) { return h.handler == handler.handler; });
            if (live && ::poll(&polled, 1, 0) > 0) {
                ++fd_calls_;
                static_cast<EventHandlerVtbl* const*>(handler.handler)[0]->on_fd_is_set(handler.handler, handler.fd);
            }
        }
        const auto now = std::chrono::steady_clock::now();
        for (const Timer& timer : std::vector<Timer>(timers_)) {
            auto live = std::find_if(timers_.begin(), timers_.end(),
                                     [&](const Timer& t) { return t.handler == timer.handler; });
            if (live != timers_.end() && now - live->last >= live->period) {
                live->last = now;
                static_cast<TimerHandlerVtbl* const*>(timer.handler)[0]->on_timer(timer.handler);
            }
        }
    }

    void activate() override {
        v3::ProcessSetup setup{v3::kRealtime, v3::kSample32, 512, 48000.0};
        processor_->vtbl->setup_processing(processor_, &setup);
        component_->vtbl->set_active(component_, 1);
    }
    void deactivate() override { component_->vtbl->set_active(component_, 0); }
    void process_start() override { processor_->vtbl->set_processing(processor_, 1); }
    void process_stop() override { processor_->vtbl->set_processing(processor_, 0); }

    void process_block(float* left, float* right, uint32_t frames) override {
        float* channels[2] = {left, right};
        v3::AudioBusBuffers input{};
        input.num_channels = 2;
        input.channel_buffers32 = channels;
        v3::AudioBusBuffers output = input;
        v3::ProcessData data{};
        data.process_mode = v3::kRealtime;
        data.symbolic_sample_size = v3::kSample32;
        data.num_samples = static_cast<v3::int32>(frames);
        data.num_inputs = 1;
        data.num_outputs = 1;
        data.inputs = &input;
        data.outputs = &output;
        processor_->vtbl->process(processor_, &data);
    }

private:
    struct EventHandler {
        void* handler;
        int fd;
    };
    struct Timer {
        void* handler;
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point last;
    };
    template <typename T>
    struct Face {
        const void* vtbl;
        T* owner;
    };
    static Vst3Host* owner(void* self) { return static_cast<Face<Vst3Host>*>(self)->owner; }

    static v3::tresult no_interface(void*, const v3::TUID, void** obj) {
        *obj = nullptr;
        return v3::kNoInterface;
    }
    static v3::uint32 one(void*) { return 1; }

    static const v3::IComponentHandlerVtbl handler_vtbl;
    static const v3::IPlugFrameVtbl frame_vtbl;
    static const RunLoopVtbl run_loop_vtbl;

    void* library_ = nullptr;
    Component* component_ = nullptr;
    Controller* controller_ = nullptr;
    Processor* processor_ = nullptr;
    v3::IPlugView* view_ = nullptr;
    Face<Vst3Host> handler_{&handler_vtbl, this};
    Face<Vst3Host> frame_{&frame_vtbl, this};
    Face<Vst3Host> run_loop_{&run_loop_vtbl, this};
    std::vector<EventHandler> event_handlers_;
    std::vector<Timer> timers_;
};

const v3::IComponentHandlerVtbl Vst3Host::handler_vtbl = {
    &Vst3Host::no_interface, &Vst3Host::one, &Vst3Host::one,
    [](void* self, v3::ParamID id) -> v3::tresult { owner(self)->record('b', id, 0.0); return v3::kResultOk; },
    [](void* self, v3::ParamID id, v3::ParamValue v) -> v3::tresult {
        owner(self)->record('v', id, v);
        return v3::kResultOk;
    },
    [](void* self, v3::ParamID id) -> v3::tresult { owner(self)->record('e', id, 0.0); return v3::kResultOk; },
    [](void*, v3::int32) -> v3::tresult { return v3::kResultOk; }};

const v3::IPlugFrameVtbl Vst3Host::frame_vtbl = {
    [](void* self, const v3::TUID iid, void** obj) -> v3::tresult {
        if (same_iid(iid, run_loop_iid)) {
            *obj = &owner(self)->run_loop_;
            return v3::kResultOk;
        }
        *obj = nullptr;
        return v3::kNoInterface;
    },
    &Vst3Host::one, &Vst3Host::one,
    [](void*, v3::IPlugView*, v3::ViewRect*) -> v3::tresult { return v3::kResultFalse; }};

const RunLoopVtbl Vst3Host::run_loop_vtbl = {
    &Vst3Host::no_interface, &Vst3Host::one, &Vst3Host::one,
    [](void* self, void* handler, int fd) -> v3::tresult {
        if (!main_loop_offered()) return v3::kNotImplemented;
        owner(self)->event_handlers_.push_back({handler, fd});
        return v3::kResultOk;
    },
    [](void* self, void* handler) -> v3::tresult {
        auto& list = owner(self)->event_handlers_;
        std::erase_if(list, [&](const EventHandler& h) { return h.handler == handler; });
        return v3::kResultOk;
    },
    [](void* self, void* handler, uint64_t ms) -> v3::tresult {
        owner(self)->timers_.push_back(
            {handler, std::chrono::milliseconds(ms), std::chrono::steady_clock::now()});
        return v3::kResultOk;
    },
    [](void* self, void* handler) -> v3::tresult {
        auto& list = owner(self)->timers_;
        std::erase_if(list, [&](const Timer& t) { return t.handler == handler; });
        return v3::kResultOk;
    }};

// ---------------------------------------------------------------------------
// Screenshots

// Fraction of the parent's colour and the grey-level spread of a screenshot.
struct ShotStats {
    double magenta = 1.0;
    double spread = 0.0;
};

ShotStats shot_stats(const std::string& path) {
    ShotStats stats;
    const std::string magenta =
        run_output("convert " + path + " -fill black +opaque '#FF00FF' -fill white -opaque '#FF00FF' "
                   "-colorspace gray -format '%[fx:mean]' info: 2>/dev/null");
    const std::string spread =
        run_output("convert " + path + " -colorspace gray -format '%[fx:standard_deviation]' info: 2>/dev/null");
    if (!magenta.empty()) stats.magenta = std::atof(magenta.c_str());
    if (!spread.empty()) stats.spread = std::atof(spread.c_str());
    return stats;
}

// Mean absolute difference (0..1) of the same region in two screenshots.
double region_difference(const std::string& a, const std::string& b, const std::string& geometry) {
    const std::string out = run_output("compare -metric MAE \\( " + a + " -crop " + geometry + " \\) \\( " + b +
                                       " -crop " + geometry + " \\) null: 2>&1");
    const std::size_t open = out.find('(');
    return open == std::string::npos ? 0.0 : std::atof(out.c_str() + open + 1);
}

std::string geometry(int w, int h, int x, int y) {
    return std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y);
}

std::string xdo(const std::string& args) { return run_output("xdotool " + args + " 2>&1"); }

// A click at page coordinates (x, y) of the editor.
void click(EditorHost& host, int x, int y) {
    xdo("mousemove --window " + std::to_string(host.parent()) + " " + std::to_string(x) + " " + std::to_string(y) +
        " click 1");
}

bool page_drawn(EditorHost& host, const std::string& name) {
    ShotStats stats;
    host.wait_for(
        [&] {
            stats = shot_stats(host.screenshot(name, host.parent()));
            return stats.magenta < 0.01 && stats.spread > 0.02;
        },
        15000ms);
    return stats.magenta < 0.01 && stats.spread > 0.02;
}

// ---------------------------------------------------------------------------
// Scenarios, the same for both formats.

void scenario_screenshot(EditorHost& host, const std::string& work, const std::string& log_path) {
    report(host.open_editor(), "open", "the editor refused to open in the X11 window");
    report(page_drawn(host, prefix + "-editor"), "page-drawn-in-parent", "the parent window does not show the page");
    host.pump(1500ms); // fonts and the background settle
    std::filesystem::copy_file(host.screenshot(prefix + "-host-window", host.top()),
                               work + "/" + prefix + "-in-host.png",
                               std::filesystem::copy_options::overwrite_existing);
    const std::string log = read_file(log_path);
    report(log.find("WebView editor shown by") != std::string::npos, "open-log", "no log line saying the page is shown");
}

// A drag on the MIX dial becomes one gesture with values; the link that
// carried it ran where the host's main loop says it should.
void scenario_drag(EditorHost& host, const std::string& log_path) {
    host.open_editor();
    page_drawn(host, "drag-before");
    host.pump(1000ms);
    const int mix_x = env_int("MIX_X");
    const int mix_y = env_int("MIX_Y");
    const double before = host.value("mix");
    const std::string window = std::to_string(host.parent());
    xdo("mousemove --window " + window + " " + std::to_string(mix_x) + " " + std::to_string(mix_y));
    host.pump(200ms);
    xdo("mousedown 1");
    for (int step = 1; step <= 10; ++step) {
        xdo("mousemove --window " + window + " " + std::to_string(mix_x) + " " + std::to_string(mix_y - 8 * step));
        host.pump(60ms);
    }
    xdo("mouseup 1");
    const uint32_t mix_id = plugin_kit::param_id_hash("mix");
    host.wait_for(
        [&] {
            for (const Gesture& g : host.gestures()) {
                if (g.kind == 'e' && g.id == mix_id) return true;
            }
            return false;
        },
        3000ms);
    int begins = 0, values = 0, ends = 0, off_thread = 0;
    double last = -1.0;
    for (const Gesture& g : host.gestures()) {
        if (g.id != mix_id) continue;
        if (!g.on_main_thread) ++off_thread;
        if (g.kind == 'b') ++begins;
        if (g.kind == 'v') { ++values; last = g.value; }
        if (g.kind == 'e') ++ends;
    }
    report(begins == 1 && values >= 1 && ends == 1, "drag-gesture",
           "begin/value/end: " + std::to_string(begins) + "/" + std::to_string(values) + "/" + std::to_string(ends));
    if (host.gestures_on_main_thread()) {
        report(off_thread == 0, "drag-gesture-on-ui-thread", std::to_string(off_thread) + " edits off the main thread");
    }
    const double after = host.value("mix");
    report(std::fabs(after - before) > 0.01 && std::fabs(after - last) < 1e-6, "drag-value",
           "mix before " + std::to_string(before) + ", after " + std::to_string(after) + ", last gesture value " +
               std::to_string(last));

    // Where the link ran: with the host's main loop, on it (the host polled
    // the descriptor and called the plug-in; the editor has no link thread);
    // without, on the editor's own thread.
    const std::string log = read_file(log_path);
    const int link_threads = threads_named("editor-link");
    if (main_loop_offered()) {
        report(log.find("linked on the host's main loop") != std::string::npos && host.fd_calls() > 0 &&
                   link_threads == 0,
               "link-on-host-main-loop",
               "log line " + std::string(log.find("linked on the host's main loop") != std::string::npos ? "yes" : "no") +
                   ", descriptor calls " + std::to_string(host.fd_calls()) + ", link threads " +
                   std::to_string(link_threads));
    } else {
        report(log.find("linked on its own thread") != std::string::npos && host.fd_calls() == 0 && link_threads == 1,
               "link-on-own-thread",
               "log line " + std::string(log.find("linked on its own thread") != std::string::npos ? "yes" : "no") +
                   ", descriptor calls " + std::to_string(host.fd_calls()) + ", link threads " +
                   std::to_string(link_threads));
    }
}

void scenario_host_change(EditorHost& host) {
    const int mix_x = env_int("MIX_X");
    const int mix_y = env_int("MIX_Y");
    host.open_editor();
    page_drawn(host, "host-change-0");
    host.set_value("mix", 0.0);
    host.pump(1500ms);
    const std::string a = host.screenshot("host-change-a", host.parent());
    host.pump(500ms);
    const std::string still = host.screenshot("host-change-still", host.parent());
    host.set_value("mix", 1.0);
    host.pump(1500ms);
    const std::string b = host.screenshot("host-change-b", host.parent());
    // The dial and its value text; nothing else animates there, so without
    // a change two shots of it are the same.
    const std::string dial = geometry(100, 90, mix_x - 50, mix_y - 40);
    const double noise = region_difference(a, still, dial);
    const double diff = region_difference(a, b, dial);
    report(diff > 0.001 && diff > 4.0 * noise, "host-change-shown",
           "MIX dial difference " + std::to_string(diff) + ", unchanged " + std::to_string(noise));
}

// The whole "save a preset from the page": the menu, its save dialog typed
// into, the file on disk, and the page's preset list showing the new
// preset (on screen, and clickable: choosing it loads it).
void scenario_save_preset(EditorHost& host, const std::string& log_path) {
    const std::string name = "Xvfb Keeper";
    host.open_editor();
    page_drawn(host, "save-0");
    host.pump(1000ms);
    const int menu_x = env_int("PRESET_MENU_X"), menu_y = env_int("PRESET_MENU_Y");
    const std::string list_region =
        geometry(env_int("PRESET_LIST_W"), env_int("PRESET_LIST_H"), env_int("PRESET_LIST_X"), env_int("PRESET_LIST_Y"));
    // The preset menu before the save, its FACTORY group folded so the USER
    // group shows at the top (the page keeps it folded); its list twice
    // (nothing there moves).
    click(host, menu_x, menu_y);
    host.pump(300ms);
    click(host, env_int("FACTORY_GROUP_X"), env_int("FACTORY_GROUP_Y"));
    std::string before;
    std::string before_again;
    host.wait_for(
        [&] {
            before = host.screenshot("list-before", host.parent());
            host.pump(300ms);
            before_again = host.screenshot("list-before-again", host.parent());
            return region_difference(before, before_again, list_region) < 0.002;
        },
        5000ms);
    const double noise = region_difference(before, before_again, list_region);
    // Its "SAVE AS..." entry, the dialog, the name typed, Return.
    click(host, env_int("SAVE_AS_X"), env_int("SAVE_AS_Y"));
    host.pump(600ms);
    xdo("type --delay 40 '" + name + "'");
    host.pump(300ms);
    xdo("key Return");
    const std::string config = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    const std::string file = config + "/corvalune/tessellgrove/Presets/" + name + ".tessellgrove";
    const bool saved = host.wait_for([&] { return std::filesystem::exists(file); }, 5000ms);
    report(saved, "save-file", "no file " + file);
    // The page answers "preset_saved" with a new list request; the list
    // that follows carries the new preset.
    const bool listed = host.wait_for(
        [&] {
            const std::string log = read_file(log_path);
            const std::size_t saved_at = log.find("action=preset_saved");
            return saved_at != std::string::npos && log.find("action=presets_list", saved_at) != std::string::npos;
        },
        5000ms);
    report(listed, "save-list-sent", "no preset list sent to the page after the save");

    // On screen: the menu opened again shows a different list.
    host.pump(300ms);
    click(host, menu_x, menu_y);
    double diff = 0.0;
    std::string after;
    host.wait_for(
        [&] {
            after = host.screenshot("list-after", host.parent());
            diff = region_difference(before, after, list_region);
            return diff > 0.05 && diff > 4.0 * noise;
        },
        5000ms);
    report(diff > 0.05 && diff > 4.0 * noise, "save-list-shown",
           "preset list difference " + std::to_string(diff) + ", unchanged " + std::to_string(noise));
    // And the new entry is the saved preset: choosing the first user entry
    // loads a preset of that name.
    const std::size_t loads_before = count_of(read_file(log_path), "action=preset_loaded");
    click(host, env_int("USER_PRESET_X"), env_int("USER_PRESET_Y"));
    const std::string loaded_line =
        "action=preset_loaded, payload_len=" + std::to_string(name.size()) + "\n";
    const bool loaded = host.wait_for(
        [&] {
            const std::string log = read_file(log_path);
            return count_of(log, "action=preset_loaded") > loads_before && log.find(loaded_line) != std::string::npos;
        },
        5000ms);
    report(loaded, "save-list-entry-loads", "choosing the new list entry loaded no preset named '" + name + "'");
    host.screenshot("save-done", host.parent());
}

void scenario_cycles(EditorHost& host, const std::string& log_path) {
    const int fds_start = open_fd_count();
    bool all_open = true;
    for (int cycle = 0; cycle < 30; ++cycle) {
        all_open = host.open_editor() && all_open;
        host.pump(cycle % 5 == 0 ? 1200ms : 150ms);
        host.close_editor();
        host.pump(20ms);
    }
    host.pump(500ms);
    report(all_open, "cycles-open", "an open failed");
    report(live_children().empty(), "cycles-no-helper",
           std::to_string(live_children().size()) + " child processes left");
    const std::string log = read_file(log_path);
    report(log.find("X error") == std::string::npos, "cycles-no-x-error", "X error in the log");
    report(open_fd_count() == fds_start, "cycles-no-fd-leak",
           std::to_string(fds_start) + " descriptors before, " + std::to_string(open_fd_count()) + " after");
    report(host.watched() == 0, "cycles-nothing-watched",
           std::to_string(host.watched()) + " descriptors or timers still registered");
    report(count_of(log, "WebView editor shown by") == 30, "cycles-shown",
           std::to_string(count_of(log, "WebView editor shown by")) + " of 30 opens shown");
}

void scenario_parent_destroyed(EditorHost& host, const std::string& log_path) {
    host.open_editor();
    page_drawn(host, "parent-0");
    host.destroy_parent();
    const bool ended = host.wait_for([] { return live_children().empty(); }, 5000ms);
    report(ended, "parent-destroyed-helper-ends", "helper still running");
    host.close_editor();
    host.pump(200ms);
    report(host.watched() == 0, "parent-destroyed-nothing-watched",
           std::to_string(host.watched()) + " descriptors or timers still registered");
    // Still here, and the helper's end was seen and logged.
    report(read_file(log_path).find("WebView editor closed") != std::string::npos, "parent-destroyed-host-survives",
           "no close line after the parent went away");
}

// Without a display or without the helper: a window-less editor that still
// opens, with the usual log lines and no process.
void scenario_fallback(EditorHost& host, const std::string& log_path) {
    report(host.open_editor(), "fallback-open", "the host's open call was refused");
    host.pump(500ms);
    report(live_children().empty(), "fallback-no-helper-process", "a helper was started");
    const std::string log = read_file(log_path);
    report(log.find("WebView editor spawn: 900x600") != std::string::npos &&
               log.find("WebView editor not yet implemented for this platform") != std::string::npos,
           "fallback-log-lines", "missing the window-less editor's log lines");
    host.close_editor();
    report(read_file(log_path).find("WebView editor closed") != std::string::npos, "fallback-close-log",
           "no close line");
    report(host.watched() == 0, "fallback-nothing-watched",
           std::to_string(host.watched()) + " descriptors or timers still registered");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: editor-test-host <library> <clap|vst3> <scenario> <work dir>\n");
        return 2;
    }
    const std::string library = argv[1];
    const std::string format = argv[2];
    const std::string scenario = argv[3];
    const std::string work = argv[4];
    prefix = format;
    const std::string log_path = work + "/host.log";
    // The plug-in's log (and the helper's) for the checks below.
    const int log_fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(log_fd, STDERR_FILENO);
    ::close(log_fd);
    std::setvbuf(stderr, nullptr, _IONBF, 0);

    std::unique_ptr<EditorHost> host;
    if (format == "clap") {
        host = std::make_unique<ClapHost>(library, work);
    } else if (format == "vst3") {
        host = std::make_unique<Vst3Host>(library, work);
    } else {
        report(false, scenario, "unknown format " + format);
        return 1;
    }
    if (!host->ok() || (!host->has_display() && scenario != "fallback")) {
        report(false, scenario, "cannot load the plug-in or open the display");
        return 1;
    }
    // Audio runs through every scenario, as in a host playing.
    host->start_audio();
    if (scenario == "screenshot") {
        scenario_screenshot(*host, work, log_path);
    } else if (scenario == "drag") {
        scenario_drag(*host, log_path);
    } else if (scenario == "host-change") {
        scenario_host_change(*host);
    } else if (scenario == "save-preset") {
        scenario_save_preset(*host, log_path);
    } else if (scenario == "cycles") {
        scenario_cycles(*host, log_path);
    } else if (scenario == "parent-destroyed") {
        scenario_parent_destroyed(*host, log_path);
    } else if (scenario == "fallback") {
        scenario_fallback(*host, log_path);
    } else if (scenario == "hold") {
        // Manual inspection: the editor stays open for HOLD_SECONDS.
        host->open_editor();
        std::printf("parent %lu top %lu\n", host->parent(), host->top());
        std::fflush(stdout);
        host->pump(std::chrono::seconds(env_int("HOLD_SECONDS") > 0 ? env_int("HOLD_SECONDS") : 10));
    } else {
        report(false, scenario, "unknown scenario");
    }
    host.reset();
    return failures == 0 ? 0 : 1;
}
