// A small X11 host for the editor tests: loads the plug-in library through
// CLAP, runs audio on its own thread, opens the editor through the gui
// extension inside a plain X11 window, and drives the page with xdotool.
// Each scenario prints "PASS <name>" or "FAIL <name>: <why>" lines.
//
// Usage: editor-test-host <library> <scenario> <work dir>
// Scenarios: screenshot, drag, host-change, save-preset, cycles, parent-destroyed.
// The host's standard error (the plug-in's log) goes to <work dir>/host.log.

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
#include <poll.h>
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
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace plugin_kit::clap_abi;
using namespace std::chrono_literals;

namespace {

constexpr int editor_x = 20;  // the editor's place inside the host window
constexpr int editor_y = 50;
constexpr int editor_w = 900;
constexpr int editor_h = 600;
constexpr unsigned long parent_colour = 0xFF00FF; // magenta: never part of the page

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

struct GestureEvent {
    uint16_t type;
    clap_id id;
    double value;
};

int failures = 0;

void report(bool ok, const std::string& name, const std::string& why = {}) {
    if (ok) {
        std::printf("PASS %s\n", name.c_str());
    } else {
        std::printf("FAIL %s: %s\n", name.c_str(), why.c_str());
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

class TestHost {
public:
    TestHost(const std::string& library, const std::string& work) : work_(work) {
        display_ = XOpenDisplay(nullptr);
        library_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) {
            return;
        }
        entry_ = static_cast<const clap_plugin_entry*>(::dlsym(library_, "clap_entry"));
        if (entry_ == nullptr || !entry_->init(library.c_str())) {
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
                                              [](const clap_host* h) {
                                                  self(h)->flush_requested_ = true;
                                              }};
            // The main loop watches descriptors and runs timers for the
            // plug-in, unless EDITOR_TEST_NO_MAIN_LOOP asks for a host without.
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
                    self(h)->timers_.push_back({*timer, std::chrono::milliseconds(period), std::chrono::steady_clock::now()});
                    return true;
                },
                [](const clap_host* h, clap_id timer) {
                    auto& list = self(h)->timers_;
                    list.erase(std::remove_if(list.begin(), list.end(), [&](const Timer& t) { return t.id == timer; }),
                               list.end());
                    return true;
                }};
            const bool main_loop = std::getenv("EDITOR_TEST_NO_MAIN_LOOP") == nullptr;
            if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &params;
            if (main_loop && std::strcmp(id, "clap.posix-fd-support") == 0) return &fds;
            if (main_loop && std::strcmp(id, "clap.timer-support") == 0) return &timers;
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
        if (display_ != nullptr) {
            make_windows();
        } else {
            parent_ = 0x2a00001; // no display: a window id that exists nowhere
        }
    }

    ~TestHost() {
        stop_audio();
        if (plugin_ != nullptr) {
            close_editor();
            plugin_->deactivate(plugin_);
            plugin_->destroy(plugin_);
        }
        if (entry_ != nullptr) {
            entry_->deinit();
        }
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }

    bool ok() const { return plugin_ != nullptr && gui_ != nullptr && params_ != nullptr; }
    bool has_display() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    Window parent() const { return parent_; }
    Window top() const { return top_; }

    void start_audio() {
        plugin_->activate(plugin_, 48000.0, 1, 512);
        audio_running_ = true;
        audio_ = std::thread([this] { audio_loop(); });
    }

    void stop_audio() {
        if (audio_.joinable()) {
            audio_running_ = false;
            audio_.join();
        }
    }

    bool open_editor() {
        if (!gui_->create(plugin_, CLAP_WINDOW_API_X11, false)) {
            return false;
        }
        clap_window window{};
        window.api = CLAP_WINDOW_API_X11;
        window.x11 = parent_;
        const bool ok = gui_->set_parent(plugin_, &window) && gui_->show(plugin_);
        gui_open_ = true;
        return ok;
    }

    void close_editor() {
        if (gui_open_) {
            gui_->destroy(plugin_);
            gui_open_ = false;
        }
    }

    // Main-thread duties for `duration`: X events, callbacks, flushes.
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
            if (callback_requested_.exchange(false)) {
                plugin_->on_main_thread(plugin_);
            }
            serve_fds_and_timers();
            if (flush_requested_.exchange(false) && !audio_running_) {
                const clap_input_events in{nullptr, [](const clap_input_events*) -> uint32_t { return 0; },
                                           [](const clap_input_events*, uint32_t) -> const clap_event_header* {
                                               return nullptr;
                                           }};
                const clap_output_events out{this, &TestHost::record_event};
                params_->flush(plugin_, &in, &out);
            }
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

    double value(std::string_view id) const {
        double v = -1.0;
        params_->get_value(plugin_, plugin_kit::param_id_hash(id), &v);
        return v;
    }

    // A host-side change, delivered with the next block.
    void set_value(std::string_view id, double value) {
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

    std::vector<GestureEvent> recorded() {
        const std::lock_guard lock(out_mutex_);
        return recorded_;
    }

    void destroy_parent() {
        XDestroyWindow(display_, parent_);
        XSync(display_, False);
    }

    std::string screenshot(const std::string& name, Window window) {
        const std::string path = work_ + "/" + name + ".png";
        std::system(("import -window " + std::to_string(window) + " " + path + " 2>/dev/null").c_str());
        return path;
    }

    // Descriptors and timers the plug-in registered right now.
    std::size_t watched() const { return fds_.size() + timers_.size(); }

private:
    struct Timer {
        clap_id id;
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point last;
    };

    static TestHost* self(const clap_host* h) { return static_cast<TestHost*>(h->host_data); }

    // The main loop's part for the plug-in: readable descriptors, due timers.
    void serve_fds_and_timers() {
        const auto* fd_ext = static_cast<const PluginPosixFdExt*>(plugin_->get_extension(plugin_, "clap.posix-fd-support"));
        const auto* timer_ext = static_cast<const PluginTimerExt*>(plugin_->get_extension(plugin_, "clap.timer-support"));
        for (const int fd : std::vector<int>(fds_)) {
            pollfd polled{fd, POLLIN, 0};
            if (fd_ext != nullptr && ::poll(&polled, 1, 0) > 0) {
                fd_ext->on_fd(plugin_, fd, 1);
            }
        }
        const auto now = std::chrono::steady_clock::now();
        for (const Timer& timer : std::vector<Timer>(timers_)) {
            if (timer_ext != nullptr && now - timer.last >= timer.period) {
                for (Timer& t : timers_) {
                    if (t.id == timer.id) t.last = now;
                }
                timer_ext->on_timer(plugin_, timer.id);
            }
        }
    }

    static bool record_event(const clap_output_events* list, const clap_event_header* event) {
        auto* host = static_cast<TestHost*>(list->ctx);
        const std::lock_guard lock(host->out_mutex_);
        if (event->type == CLAP_EVENT_PARAM_VALUE) {
            const auto* e = reinterpret_cast<const clap_event_param_value*>(event);
            host->recorded_.push_back({event->type, e->param_id, e->value});
        } else if (event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || event->type == CLAP_EVENT_PARAM_GESTURE_END) {
            clap_id id = 0;
            std::memcpy(&id, reinterpret_cast<const char*>(event) + sizeof(clap_event_header), sizeof id);
            host->recorded_.push_back({event->type, id, 0.0});
        }
        return true;
    }

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
        draw_title();
    }

    void draw_title() {
        GC gc = XCreateGC(display_, top_, 0, nullptr);
        XSetForeground(display_, gc, 0xe8e8e8);
        const char* text = "Tessellgrove - Insert 1 (CLAP) - editor-test-host";
        XDrawString(display_, top_, gc, editor_x, 30, text, static_cast<int>(std::strlen(text)));
        XFreeGC(display_, gc);
        XFlush(display_);
    }

    void audio_loop() {
        plugin_->start_processing(plugin_);
        std::vector<float> left(256), right(256);
        float* channels[2] = {left.data(), right.data()};
        double phase = 0.0;
        while (audio_running_) {
            for (std::size_t i = 0; i < left.size(); ++i) {
                left[i] = right[i] = static_cast<float>(0.25 * std::sin(phase));
                phase += 2.0 * M_PI * 220.0 / 48000.0;
            }
            std::vector<clap_event_param_value> events;
            {
                const std::lock_guard lock(in_mutex_);
                events.swap(pending_in_);
            }
            struct In {
                clap_input_events list;
                std::vector<clap_event_param_value>* events;
            } in{{nullptr,
                  [](const clap_input_events* l) -> uint32_t {
                      return static_cast<uint32_t>(static_cast<std::vector<clap_event_param_value>*>(l->ctx)->size());
                  },
                  [](const clap_input_events* l, uint32_t i) -> const clap_event_header* {
                      return &(*static_cast<std::vector<clap_event_param_value>*>(l->ctx))[i].header;
                  }},
                 &events};
            in.list.ctx = &events;
            const clap_output_events out{this, &TestHost::record_event};
            clap_audio_buffer input{channels, nullptr, 2, 0, 0};
            clap_audio_buffer output{channels, nullptr, 2, 0, 0};
            clap_process process{};
            process.steady_time = -1;
            process.frames_count = 256;
            process.audio_inputs = &input;
            process.audio_outputs = &output;
            process.audio_inputs_count = 1;
            process.audio_outputs_count = 1;
            process.in_events = &in.list;
            process.out_events = &out;
            plugin_->process(plugin_, &process);
            std::this_thread::sleep_for(5ms);
        }
        plugin_->stop_processing(plugin_);
    }

    std::string work_;
    Display* display_ = nullptr;
    Window top_ = 0;
    Window parent_ = 0;
    void* library_ = nullptr;
    const clap_plugin_entry* entry_ = nullptr;
    clap_host host_{};
    const clap_plugin* plugin_ = nullptr;
    const clap_plugin_gui* gui_ = nullptr;
    const clap_plugin_params* params_ = nullptr;
    bool gui_open_ = false;
    std::atomic<bool> callback_requested_{false};
    std::atomic<bool> flush_requested_{false};
    std::atomic<bool> audio_running_{false};
    std::thread audio_;
    std::mutex in_mutex_;
    std::vector<clap_event_param_value> pending_in_;
    std::mutex out_mutex_;
    std::vector<GestureEvent> recorded_;
    std::vector<int> fds_;
    std::vector<Timer> timers_;
    clap_id next_timer_ = 1;
};

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
    const std::string spread = run_output("convert " + path + " -colorspace gray -format '%[fx:standard_deviation]' info: 2>/dev/null");
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

// Page coordinates (inside the editor) of the MIX dial's centre and of the
// save controls; found on the 900 x 600 page.
struct Point {
    int x, y;
};

std::string xdo(const std::string& args) { return run_output("xdotool " + args + " 2>&1"); }

bool page_drawn(TestHost& host, const std::string& name) {
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
// VST3: the same library through GetPluginFactory, its edit controller and
// an IPlugView attached to the X11 window, with a frame that offers the
// Linux run loop (a timer driven from this host's main loop) and a
// component handler that records the edits and the thread they came on.

namespace v3 = plugin_kit::vst3_abi;

const v3::Uid run_loop_iid = v3::inline_uid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);

// An interface pointer: the table is all a host sees.
template <typename Vtbl>
struct Interface {
    const Vtbl* vtbl;
};
using Component = Interface<v3::IComponentVtbl>;
using Controller = Interface<v3::IEditControllerVtbl>;

bool same_iid(const char* iid, const v3::Uid& uid) { return std::memcmp(iid, uid.data(), 16) == 0; }

struct RunLoopVtbl {
    v3::tresult (*query_interface)(void* self, const v3::TUID iid, void** obj);
    v3::uint32 (*add_ref)(void* self);
    v3::uint32 (*release)(void* self);
    v3::tresult (*register_event_handler)(void*, void*, int);
    v3::tresult (*unregister_event_handler)(void*, void*);
    v3::tresult (*register_timer)(void*, void* handler, uint64_t ms);
    v3::tresult (*unregister_timer)(void*, void* handler);
};
struct TimerHandlerVtbl {
    v3::tresult (*query_interface)(void* self, const v3::TUID iid, void** obj);
    v3::uint32 (*add_ref)(void* self);
    v3::uint32 (*release)(void* self);
    void (*on_timer)(void*);
};

struct Edit {
    char kind; // 'b', 'p', 'e'
    v3::ParamID id;
    double value;
    bool on_main_thread;
};

class Vst3TestHost {
public:
    explicit Vst3TestHost(const std::string& library) {
        display_ = XOpenDisplay(nullptr);
        library_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (display_ == nullptr || library_ == nullptr) return;
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
                                           &component) != v3::kResultOk) return;
        component_ = static_cast<Component*>(component);
        component_->vtbl->initialize(component_, nullptr);
        void* controller = nullptr;
        component_->vtbl->query_interface(component_, reinterpret_cast<const char*>(v3::IEditController_iid.data()),
                                          &controller);
        controller_ = static_cast<Controller*>(controller);
        if (controller_ == nullptr) return;
        controller_->vtbl->set_component_handler(controller_, reinterpret_cast<v3::IComponentHandler*>(&handler_));
        main_thread_ = std::this_thread::get_id();
        const int screen = DefaultScreen(display_);
        top_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, editor_w + 2 * editor_x,
                                   editor_h + editor_y + editor_x, 0, 0, 0x30343a);
        parent_ = XCreateSimpleWindow(display_, top_, editor_x, editor_y, editor_w, editor_h, 0, 0, parent_colour);
        XMapWindow(display_, parent_);
        XMapWindow(display_, top_);
        XSync(display_, False);
    }

    ~Vst3TestHost() {
        close_view();
        if (controller_ != nullptr) {
            controller_->vtbl->set_component_handler(controller_, nullptr);
            controller_->vtbl->release(controller_);
        }
        if (component_ != nullptr) {
            component_->vtbl->terminate(component_);
            component_->vtbl->release(component_);
        }
        if (display_ != nullptr) XCloseDisplay(display_);
    }

    bool ok() const { return controller_ != nullptr && display_ != nullptr; }
    Window parent() const { return parent_; }

    bool open_view() {
        view_ = controller_->vtbl->create_view(controller_, v3::kEditorViewType);
        if (view_ == nullptr) return false;
        view_->vtbl->set_frame(view_, reinterpret_cast<v3::IPlugFrame*>(&frame_));
        return view_->vtbl->attached(view_, reinterpret_cast<void*>(parent_), v3::kPlatformTypeX11EmbedWindowID) ==
               v3::kResultOk;
    }

    void close_view() {
        if (view_ != nullptr) {
            view_->vtbl->removed(view_);
            view_->vtbl->set_frame(view_, nullptr);
            view_->vtbl->release(view_);
            view_ = nullptr;
        }
    }

    bool timer_registered() const { return timer_ != nullptr; }

    void pump(std::chrono::milliseconds duration) {
        const auto until = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < until) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
            }
            if (timer_ != nullptr) {
                static_cast<TimerHandlerVtbl* const*>(timer_)[0]->on_timer(timer_);
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            if (done()) return true;
            pump(50ms);
        }
        return done();
    }

    double value(std::string_view id) const {
        return controller_->vtbl->get_param_normalized(controller_, plugin_kit::param_id_hash(id));
    }
    void set_value(std::string_view id, double value) {
        controller_->vtbl->set_param_normalized(controller_, plugin_kit::param_id_hash(id), value);
    }
    std::vector<Edit> edits() {
        const std::lock_guard lock(edits_mutex_);
        return edits_;
    }
    std::string screenshot(const std::string& path) {
        std::system(("import -window " + std::to_string(parent_) + " " + path + " 2>/dev/null").c_str());
        return path;
    }

private:
    template <typename T>
    struct Face {
        const void* vtbl;
        T* owner;
    };
    static Vst3TestHost* owner(void* self) { return static_cast<Face<Vst3TestHost>*>(self)->owner; }

    static v3::tresult no_interface(void*, const v3::TUID, void** obj) {
        *obj = nullptr;
        return v3::kNoInterface;
    }
    static v3::uint32 one(void*) { return 1; }

    void record(char kind, v3::ParamID id, double value) {
        const std::lock_guard lock(edits_mutex_);
        edits_.push_back({kind, id, value, std::this_thread::get_id() == main_thread_});
    }

    static const v3::IComponentHandlerVtbl handler_vtbl;
    static const v3::IPlugFrameVtbl frame_vtbl;
    static const RunLoopVtbl run_loop_vtbl;

    Display* display_ = nullptr;
    Window top_ = 0;
    Window parent_ = 0;
    void* library_ = nullptr;
    Component* component_ = nullptr;
    Controller* controller_ = nullptr;
    v3::IPlugView* view_ = nullptr;
    Face<Vst3TestHost> handler_{&handler_vtbl, this};
    Face<Vst3TestHost> frame_{&frame_vtbl, this};
    Face<Vst3TestHost> run_loop_{&run_loop_vtbl, this};
    void* timer_ = nullptr; // the view's ITimerHandler while registered
    std::thread::id main_thread_;
    std::mutex edits_mutex_;
    std::vector<Edit> edits_;
};

const v3::IComponentHandlerVtbl Vst3TestHost::handler_vtbl = {
    &Vst3TestHost::no_interface, &Vst3TestHost::one, &Vst3TestHost::one,
    [](void* self, v3::ParamID id) -> v3::tresult { owner(self)->record('b', id, 0.0); return v3::kResultOk; },
    [](void* self, v3::ParamID id, v3::ParamValue v) -> v3::tresult { owner(self)->record('p', id, v); return v3::kResultOk; },
    [](void* self, v3::ParamID id) -> v3::tresult { owner(self)->record('e', id, 0.0); return v3::kResultOk; },
    [](void*, v3::int32) -> v3::tresult { return v3::kResultOk; }};

const v3::IPlugFrameVtbl Vst3TestHost::frame_vtbl = {
    [](void* self, const v3::TUID iid, void** obj) -> v3::tresult {
        if (same_iid(iid, run_loop_iid)) {
            *obj = &owner(self)->run_loop_;
            return v3::kResultOk;
        }
        *obj = nullptr;
        return v3::kNoInterface;
    },
    &Vst3TestHost::one, &Vst3TestHost::one,
    [](void*, v3::IPlugView*, v3::ViewRect*) -> v3::tresult { return v3::kResultFalse; }};

const RunLoopVtbl Vst3TestHost::run_loop_vtbl = {
    &Vst3TestHost::no_interface, &Vst3TestHost::one, &Vst3TestHost::one,
    [](void*, void*, int) -> v3::tresult { return v3::kResultFalse; },
    [](void*, void*) -> v3::tresult { return v3::kResultFalse; },
    [](void* self, void* handler, uint64_t) -> v3::tresult { owner(self)->timer_ = handler; return v3::kResultOk; },
    [](void* self, void* handler) -> v3::tresult {
        if (owner(self)->timer_ == handler) owner(self)->timer_ = nullptr;
        return v3::kResultOk;
    }};

int run_vst3(const std::string& library, const std::string& work) {
    Vst3TestHost host(library);
    if (!host.ok()) {
        report(false, "vst3", "cannot load the plug-in through GetPluginFactory or open the display");
        return 1;
    }
    const int mix_x = std::atoi(std::getenv("MIX_X") ? std::getenv("MIX_X") : "0");
    const int mix_y = std::atoi(std::getenv("MIX_Y") ? std::getenv("MIX_Y") : "0");
    report(host.open_view(), "vst3-attached", "IPlugView::attached refused");
    report(host.timer_registered(), "vst3-run-loop-timer", "the view registered no run-loop timer");
    ShotStats stats;
    host.wait_for([&] { stats = shot_stats(host.screenshot(work + "/vst3-editor.png")); return stats.magenta < 0.01 && stats.spread > 0.02; }, 15000ms);
    report(stats.magenta < 0.01 && stats.spread > 0.02, "vst3-page-drawn-in-parent", "the parent does not show the page");
    host.pump(1000ms);

    const double before = host.value("mix");
    const std::string window = std::to_string(host.parent());
    xdo("mousemove --window " + window + " " + std::to_string(mix_x) + " " + std::to_string(mix_y));
    host.pump(200ms);
    xdo("mousedown 1");
    for (int step = 1; step <= 10; ++step) {
        xdo("mousemove --window " + window + " " + std::to_string(mix_x) + " " + std::to_string(mix_y + 8 * step));
        host.pump(60ms);
    }
    xdo("mouseup 1");
    const v3::ParamID mix_id = plugin_kit::param_id_hash("mix");
    host.wait_for([&] { for (const Edit& e : host.edits()) if (e.kind == 'e' && e.id == mix_id) return true; return false; }, 3000ms);
    int begins = 0, performs = 0, ends = 0, off_thread = 0;
    double last = -1.0;
    for (const Edit& e : host.edits()) {
        if (e.id != mix_id) continue;
        if (!e.on_main_thread) ++off_thread;
        if (e.kind == 'b') ++begins;
        if (e.kind == 'p') { ++performs; last = e.value; }
        if (e.kind == 'e') ++ends;
    }
    report(begins == 1 && performs >= 1 && ends == 1, "vst3-drag-edits",
           "begin/perform/end: " + std::to_string(begins) + "/" + std::to_string(performs) + "/" + std::to_string(ends));
    report(off_thread == 0, "vst3-edits-on-ui-thread", std::to_string(off_thread) + " edits off the main thread");
    const double after = host.value("mix");
    report(std::fabs(after - before) > 0.01 && std::fabs(after - last) < 1e-6, "vst3-drag-value",
           "mix before " + std::to_string(before) + ", after " + std::to_string(after));

    // A host-side change reaches the page.
    host.set_value("mix", 0.0);
    host.pump(1200ms);
    const std::string a = host.screenshot(work + "/vst3-change-a.png");
    host.pump(400ms);
    const std::string still = host.screenshot(work + "/vst3-change-still.png");
    host.set_value("mix", 1.0);
    host.pump(1200ms);
    const std::string b = host.screenshot(work + "/vst3-change-b.png");
    const std::string dial = "100x90+" + std::to_string(mix_x - 50) + "+" + std::to_string(mix_y - 40);
    const double noise = region_difference(a, still, dial);
    const double diff = region_difference(a, b, dial);
    report(diff > 0.001 && diff > 4.0 * noise, "vst3-host-change-shown",
           "MIX dial difference " + std::to_string(diff) + ", unchanged " + std::to_string(noise));

    host.close_view();
    host.pump(300ms);
    report(live_children().empty(), "vst3-removed-no-helper", "helper still running after removed()");
    report(!host.timer_registered(), "vst3-timer-unregistered", "timer still registered after removed()");
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: editor-test-host <library> <scenario> <work dir>\n");
        return 2;
    }
    const std::string library = argv[1];
    const std::string scenario = argv[2];
    const std::string work = argv[3];
    const std::string log_path = work + "/host.log";
    // The plug-in's log (and the helper's) for the checks below.
    const int log_fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(log_fd, STDERR_FILENO);
    ::close(log_fd);
    std::setvbuf(stderr, nullptr, _IONBF, 0);

    if (scenario == "vst3") {
        return run_vst3(library, work);
    }
    const int fds_before = open_fd_count();
    {
        TestHost host(library, work);
        if (!host.ok() || (!host.has_display() && scenario != "fallback")) {
            report(false, scenario, "cannot load the plug-in or open the display");
            return 1;
        }
        host.start_audio();
        const Point mix = {std::atoi(std::getenv("MIX_X") ? std::getenv("MIX_X") : "0"),
                           std::atoi(std::getenv("MIX_Y") ? std::getenv("MIX_Y") : "0")};

        if (scenario == "screenshot") {
            report(host.open_editor(), "clap-open", "gui.set_parent refused");
            report(page_drawn(host, "clap-editor"), "clap-page-drawn-in-parent",
                   "the parent window does not show the page");
            host.pump(1500ms); // fonts and the background settle
            std::filesystem::copy_file(host.screenshot("clap-host-window", host.top()), work + "/editor-in-host.png",
                                       std::filesystem::copy_options::overwrite_existing);
            const std::string log = read_file(log_path);
            report(log.find("WebView editor shown by") != std::string::npos, "clap-open-log",
                   "no log line saying the page is shown");
        } else if (scenario == "drag") {
            host.open_editor();
            page_drawn(host, "drag-before");
            host.pump(1000ms);
            const double before = host.value("mix");
            const std::string window = std::to_string(host.parent());
            xdo("mousemove --window " + window + " " + std::to_string(mix.x) + " " + std::to_string(mix.y));
            host.pump(200ms);
            xdo("mousedown 1");
            for (int step = 1; step <= 10; ++step) {
                xdo("mousemove --window " + window + " " + std::to_string(mix.x) + " " +
                    std::to_string(mix.y - 8 * step));
                host.pump(60ms);
            }
            xdo("mouseup 1");
            const clap_id mix_id = plugin_kit::param_id_hash("mix");
            const auto gesture_done = [&] {
                for (const GestureEvent& e : host.recorded()) {
                    if (e.type == CLAP_EVENT_PARAM_GESTURE_END && e.id == mix_id) return true;
                }
                return false;
            };
            host.wait_for(gesture_done, 3000ms);
            int begins = 0, values = 0, ends = 0;
            double last = -1.0;
            for (const GestureEvent& e : host.recorded()) {
                if (e.id != mix_id) continue;
                if (e.type == CLAP_EVENT_PARAM_GESTURE_BEGIN) ++begins;
                if (e.type == CLAP_EVENT_PARAM_VALUE) { ++values; last = e.value; }
                if (e.type == CLAP_EVENT_PARAM_GESTURE_END) ++ends;
            }
            report(begins == 1 && values >= 1 && ends == 1, "clap-drag-gesture",
                   "begin/value/end events: " + std::to_string(begins) + "/" + std::to_string(values) + "/" +
                       std::to_string(ends));
            const double after = host.value("mix");
            report(std::fabs(after - before) > 0.01 && std::fabs(after - last) < 1e-6, "clap-drag-value",
                   "mix before " + std::to_string(before) + ", after " + std::to_string(after) + ", last event " +
                       std::to_string(last));
        } else if (scenario == "host-change") {
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
            // The dial and its value text; nothing else animates there, so
            // without a change two shots of it are the same.
            const std::string dial = "100x90+" + std::to_string(mix.x - 50) + "+" + std::to_string(mix.y - 40);
            const double noise = region_difference(a, still, dial);
            const double diff = region_difference(a, b, dial);
            report(diff > 0.001 && diff > 4.0 * noise, "clap-host-change-shown",
                   "MIX dial difference " + std::to_string(diff) + ", unchanged " + std::to_string(noise));
        } else if (scenario == "save-preset") {
            host.open_editor();
            page_drawn(host, "save-0");
            host.pump(1000ms);
            const std::string window = std::to_string(host.parent());
            const int save_x = std::atoi(std::getenv("SAVE_X") ? std::getenv("SAVE_X") : "0");
            const int save_y = std::atoi(std::getenv("SAVE_Y") ? std::getenv("SAVE_Y") : "0");
            // The preset menu, then its "SAVE AS..." entry.
            xdo("mousemove --window " + window + " " + std::to_string(save_x) + " " + std::to_string(save_y) +
                " click 1");
            host.pump(600ms);
            const int save_as_x = std::atoi(std::getenv("SAVE_AS_X") ? std::getenv("SAVE_AS_X") : "0");
            const int save_as_y = std::atoi(std::getenv("SAVE_AS_Y") ? std::getenv("SAVE_AS_Y") : "0");
            xdo("mousemove --window " + window + " " + std::to_string(save_as_x) + " " + std::to_string(save_as_y) +
                " click 1");
            host.pump(600ms);
            xdo("type --delay 40 'Xvfb Keeper'");
            host.pump(300ms);
            xdo("key Return");
            const std::string config = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
            const std::string file = config + "/corvalune/tessellgrove/Presets/Xvfb Keeper.tessellgrove";
            const bool saved = host.wait_for([&] { return std::filesystem::exists(file); }, 5000ms);
            report(saved, "clap-save-file", "no file " + file);
            // The page answers "preset_saved" with a new list request; the
            // list that follows carries the new preset.
            const bool listed = host.wait_for(
                [&] {
                    const std::string log = read_file(log_path);
                    const std::size_t saved_at = log.find("action=preset_saved");
                    return saved_at != std::string::npos &&
                           log.find("action=presets_list", saved_at) != std::string::npos;
                },
                5000ms);
            report(listed, "clap-save-list-updated", "no preset list sent to the page after the save");
            host.screenshot("save-done", host.parent());
        } else if (scenario == "cycles") {
            const int fds_start = open_fd_count();
            bool all_open = true;
            for (int cycle = 0; cycle < 30; ++cycle) {
                all_open = host.open_editor() && all_open;
                host.pump(cycle % 5 == 0 ? 1200ms : 150ms);
                host.close_editor();
                host.pump(20ms);
            }
            host.pump(500ms);
            report(all_open, "clap-cycles-open", "an open failed");
            report(live_children().empty(), "clap-cycles-no-helper",
                   std::to_string(live_children().size()) + " child processes left");
            const std::string log = read_file(log_path);
            report(log.find("X error") == std::string::npos, "clap-cycles-no-x-error", "X error in the log");
            report(open_fd_count() == fds_start, "clap-cycles-no-fd-leak",
                   std::to_string(fds_start) + " descriptors before, " + std::to_string(open_fd_count()) +
                       " after");
            report(host.watched() == 0, "clap-cycles-nothing-watched",
                   std::to_string(host.watched()) + " descriptors or timers still registered");
            report(count_of(log, "WebView editor shown by") == 30, "clap-cycles-shown",
                   std::to_string(count_of(log, "WebView editor shown by")) + " of 30 opens shown");
        } else if (scenario == "parent-destroyed") {
            host.open_editor();
            page_drawn(host, "parent-0");
            host.destroy_parent();
            const bool ended = host.wait_for([] { return live_children().empty(); }, 5000ms);
            report(ended, "clap-parent-destroyed-helper-ends", "helper still running");
            host.close_editor();
            host.pump(200ms);
            report(true, "clap-parent-destroyed-host-survives");
        } else if (scenario == "fallback") {
            // Without a display or without the helper: a window-less editor
            // that still opens, with the usual log lines and no process.
            report(host.open_editor(), "fallback-open", "gui.set_parent refused");
            host.pump(500ms);
            report(live_children().empty(), "fallback-no-helper-process", "a helper was started");
            const std::string log = read_file(log_path);
            report(log.find("WebView editor spawn: 900x600") != std::string::npos &&
                       log.find("WebView editor not yet implemented for this platform") != std::string::npos,
                   "fallback-log-lines", "missing the window-less editor's log lines");
            host.close_editor();
            report(read_file(log_path).find("WebView editor closed") != std::string::npos, "fallback-close-log",
                   "no close line");
        } else if (scenario == "hold") {
            // Manual inspection: the editor stays open for HOLD_SECONDS.
            host.open_editor();
            std::printf("parent %lu top %lu\n", host.parent(), host.top());
            std::fflush(stdout);
            host.pump(std::chrono::seconds(std::atoi(std::getenv("HOLD_SECONDS") ? std::getenv("HOLD_SECONDS") : "10")));
        } else {
            report(false, scenario, "unknown scenario");
        }
    }
    (void)fds_before;
    return failures == 0 ? 0 : 1;
}
