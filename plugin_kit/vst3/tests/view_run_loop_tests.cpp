// The view on a host's Linux run loop: an editor that asks to have its
// descriptor watched gets it served through IRunLoop's event handler and a
// timer, on the thread that attached the view, with its gestures reaching
// the component handler there; hosts without a run loop, or whose run loop
// refuses descriptors, leave the editor to its own thread.

#include "test_host.hpp"

#include "plugin_kit/params/param_id.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace vst3_test;

constexpr Uid run_loop_iid = inline_uid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);

struct HandlerVtbl {
    tresult (*query_interface)(void* self, const TUID iid, void** obj);
    uint32 (*add_ref)(void* self);
    uint32 (*release)(void* self);
    void (*call)(void* self); // ITimerHandler::onTimer
};
struct EventHandlerVtbl {
    tresult (*query_interface)(void* self, const TUID iid, void** obj);
    uint32 (*add_ref)(void* self);
    uint32 (*release)(void* self);
    void (*on_fd_is_set)(void* self, int fd);
};

// A host's frame with (optionally) a run loop that records what the view
// registered and lets the test fire it.
struct Frame {
    struct RunLoopVtbl {
        tresult (*query_interface)(void* self, const TUID iid, void** obj);
        uint32 (*add_ref)(void* self);
        uint32 (*release)(void* self);
        tresult (*register_event_handler)(void* self, void* handler, int fd);
        tresult (*unregister_event_handler)(void* self, void* handler);
        tresult (*register_timer)(void* self, void* handler, uint64_t ms);
        tresult (*unregister_timer)(void* self, void* handler);
    };
    struct RunLoop {
        const RunLoopVtbl* vtbl;
        Frame* frame;
    };

    const IPlugFrameVtbl* vtbl = &frame_table;
    RunLoop run_loop{&run_loop_table, this};
    bool offers_run_loop = true;
    bool accepts_fds = true;
    std::vector<std::pair<void*, int>> fds;          // (handler, descriptor)
    std::vector<std::pair<void*, uint64_t>> timers;  // (handler, period)
    int references = 0;                               // run-loop references held by the view

    IPlugFrame* frame() { return reinterpret_cast<IPlugFrame*>(this); }

    void fire_fd(int fd) {
        for (const auto& [handler, watched] : std::vector(fds)) {
            if (watched == fd) {
                static_cast<const EventHandlerVtbl* const*>(handler)[0]->on_fd_is_set(handler, fd);
            }
        }
    }
    void fire_timer(uint64_t period) {
        for (const auto& [handler, ms] : std::vector(timers)) {
            if (ms == period) {
                static_cast<const HandlerVtbl* const*>(handler)[0]->call(handler);
            }
        }
    }

    static Frame* of(void* s) { return static_cast<RunLoop*>(s)->frame; }
    static tresult frame_qi(void* s, const TUID iid, void** obj) {
        auto* f = static_cast<Frame*>(s);
        *obj = nullptr;
        if (f->offers_run_loop && std::memcmp(iid, run_loop_iid.data(), 16) == 0) {
            ++f->references;
            *obj = &f->run_loop;
            return kResultOk;
        }
        return kNoInterface;
    }
    static tresult loop_qi(void*, const TUID, void** obj) {
        *obj = nullptr;
        return kNoInterface;
    }
    static uint32 one(void*) { return 1; }
    static uint32 loop_release(void* s) { return static_cast<uint32>(--of(s)->references); }
    static tresult resize(void*, IPlugView*, ViewRect*) { return kResultFalse; }
    static tresult register_fd(void* s, void* handler, int fd) {
        if (!of(s)->accepts_fds) {
            return kNotImplemented;
        }
        of(s)->fds.emplace_back(handler, fd);
        return kResultOk;
    }
    static tresult unregister_fd(void* s, void* handler) {
        std::erase_if(of(s)->fds, [&](const auto& e) { return e.first == handler; });
        return kResultOk;
    }
    static tresult register_timer(void* s, void* handler, uint64_t ms) {
        of(s)->timers.emplace_back(handler, ms);
        return kResultOk;
    }
    static tresult unregister_timer(void* s, void* handler) {
        std::erase_if(of(s)->timers, [&](const auto& e) { return e.first == handler; });
        return kResultOk;
    }
    static constexpr IPlugFrameVtbl frame_table = {frame_qi, one, one, resize};
    static constexpr RunLoopVtbl run_loop_table = {loop_qi, one, loop_release, register_fd,
                                                   unregister_fd, register_timer, unregister_timer};
};

// A component handler that records each edit and whether it came on the
// test's own (UI) thread.
struct Handler {
    struct Edit {
        char kind; // 'b', 'p', 'e'
        ParamID id;
        ParamValue value;
        bool on_ui_thread;
    };
    const IComponentHandlerVtbl* vtbl = &table;
    std::thread::id ui_thread = std::this_thread::get_id();
    std::vector<Edit> edits;

    static Handler* self(void* s) { return static_cast<Handler*>(s); }
    static void add(void* s, char kind, ParamID id, ParamValue v) {
        self(s)->edits.push_back({kind, id, v, std::this_thread::get_id() == self(s)->ui_thread});
    }
    static tresult qi(void*, const TUID, void** obj) {
        *obj = nullptr;
        return kNoInterface;
    }
    static uint32 one(void*) { return 1; }
    static tresult begin(void* s, ParamID id) { add(s, 'b', id, 0.0); return kResultOk; }
    static tresult perform(void* s, ParamID id, ParamValue v) { add(s, 'p', id, v); return kResultOk; }
    static tresult end(void* s, ParamID id) { add(s, 'e', id, 0.0); return kResultOk; }
    static tresult restart(void*, int32) { return kResultOk; }
    static constexpr IComponentHandlerVtbl table = {qi, one, one, begin, perform, end, restart};
};

// An editor with a link like the real one: a pipe it asks the host to
// watch; each byte that arrives is one gesture on "level" to 0.25. Without
// a watch it makes the gesture from a thread of its own at once.
struct LinkEditorLog {
    bool watched = false;
    int read_fd = -1;
    int write_fd = -1;
    int ticks = 0;
    int open_handles = 0;
};

class LinkEditor final : public Editor {
public:
    explicit LinkEditor(LinkEditorLog& log) : log_(log) {}

    std::unique_ptr<EditorHandle> spawn(const ParentWindow& parent) override {
        return std::make_unique<Handle>(log_, parent.context);
    }
    EditorSize size() const override { return {900, 600}; }
    bool set_scale_factor(float) override { return true; }
    void param_value_changed(std::string_view, float) override {}
    void param_modulation_changed(std::string_view, float) override {}
    void param_values_changed() override {}

private:
    static void gesture(GuiContext& context) {
        context.begin_edit("level");
        context.set_value("level", 0.25f);
        context.end_edit("level");
    }

    class Handle final : public EditorHandle {
    public:
        Handle(LinkEditorLog& log, std::shared_ptr<GuiContext> context) : log_(log), context_(std::move(context)) {
            int pipe[2];
            EXPECT_EQ(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
            log_.read_fd = pipe[0];
            log_.write_fd = pipe[1];
            ++log_.open_handles;
            log_.watched = context_->watch(
                log_.read_fd, 50,
                [this] {
                    char byte = 0;
                    while (::read(log_.read_fd, &byte, 1) == 1) {
                        gesture(*context_);
                    }
                },
                [this] { ++log_.ticks; });
            if (!log_.watched) {
                std::thread([this] { gesture(*context_); }).join();
            }
        }
        ~Handle() override {
            if (log_.watched) {
                context_->unwatch();
            }
            ::close(log_.read_fd);
            ::close(log_.write_fd);
            --log_.open_handles;
        }
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;

    private:
        LinkEditorLog& log_;
        std::shared_ptr<GuiContext> context_;
    };

    LinkEditorLog& log_;
};

struct RunLoopCase {
    const char* name;
    bool offers_run_loop;
    bool accepts_fds;
    bool watched;              // the editor's link is on the host's run loop
    std::size_t timers;        // run-loop timers while attached
    bool edits_on_ui_thread;   // where the component handler sees the gesture
    bool edits_wait_for_timer; // the gesture reaches the handler only with the gesture timer
};

class Vst3ViewRunLoop : public ::testing::TestWithParam<RunLoopCase> {};

TEST_P(Vst3ViewRunLoop, LinkAndGesturesTakeTheHostsPath) {
    const RunLoopCase& c = GetParam();
    LinkEditorLog log;
    editor_override = [&log] { return std::make_unique<LinkEditor>(log); };
    Instance inst;
    editor_override = nullptr;
    Handler handler;
    Frame frame;
    frame.offers_run_loop = c.offers_run_loop;
    frame.accepts_fds = c.accepts_fds;
    ASSERT_EQ(inst.ctrl().set_component_handler(inst.controller, reinterpret_cast<IComponentHandler*>(&handler)),
              kResultOk);
    IPlugView* view = inst.ctrl().create_view(inst.controller, "editor");
    ASSERT_NE(view, nullptr);
    const IPlugViewVtbl& v = *view->vtbl;
    ASSERT_EQ(v.set_frame(view, frame.frame()), kResultOk);
    ASSERT_EQ(v.attached(view, reinterpret_cast<void*>(0x4200001), "X11EmbedWindowID"), kResultOk);

    EXPECT_EQ(log.watched, c.watched);
    EXPECT_EQ(frame.timers.size(), c.timers);
    ASSERT_EQ(frame.fds.size(), c.watched ? 1u : 0u);
    const ParamID level = param_id_hash("level");
    if (c.watched) {
        EXPECT_EQ(frame.fds[0].second, log.read_fd);
        ASSERT_EQ(::write(log.write_fd, "x", 1), 1);
        frame.fire_fd(log.read_fd + 100); // a descriptor the view never registered
        EXPECT_TRUE(handler.edits.empty());
        frame.fire_fd(log.read_fd);
        frame.fire_timer(50);
        frame.fire_timer(50);
        EXPECT_EQ(log.ticks, 2);
    }
    if (c.edits_wait_for_timer) {
        EXPECT_TRUE(handler.edits.empty()) << "a gesture from another thread reached the host off its UI thread";
        frame.fire_timer(16);
    }
    ASSERT_EQ(handler.edits.size(), 3u);
    EXPECT_EQ(handler.edits[0].kind, 'b');
    EXPECT_EQ(handler.edits[1].kind, 'p');
    EXPECT_EQ(handler.edits[2].kind, 'e');
    for (const Handler::Edit& e : handler.edits) {
        EXPECT_EQ(e.id, level);
        EXPECT_EQ(e.on_ui_thread, c.edits_on_ui_thread);
    }
    EXPECT_DOUBLE_EQ(handler.edits[1].value, 0.25);
    EXPECT_DOUBLE_EQ(inst.normalized(level), 0.25);

    ASSERT_EQ(v.removed(view), kResultOk);
    EXPECT_EQ(log.open_handles, 0);
    EXPECT_TRUE(frame.fds.empty());
    EXPECT_TRUE(frame.timers.empty());
    EXPECT_EQ(frame.references, 0) << "the run loop is released with the view's removal";
    EXPECT_EQ(v.set_frame(view, nullptr), kResultOk);
    v.release(view);
    inst.ctrl().set_component_handler(inst.controller, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, Vst3ViewRunLoop,
    ::testing::Values(RunLoopCase{"full_run_loop", true, true, true, 2, true, false},
                      RunLoopCase{"timers_only", true, false, false, 1, true, true},
                      RunLoopCase{"no_run_loop", false, false, false, 0, false, false}),
    [](const ::testing::TestParamInfo<RunLoopCase>& param_info) { return std::string(param_info.param.name); });

// An editor whose link ends inside its own tick (the helper went away)
// unregisters from the run loop while the host is calling it; the host's
// registrations are gone and a later firing reaches nothing.
TEST(Vst3ViewRunLoopEnd, UnwatchFromInsideTheTick) {
    struct EndingEditor final : Editor {
        std::unique_ptr<EditorHandle> spawn(const ParentWindow& parent) override {
            auto context = parent.context;
            watched = context->watch(
                pipe_fd, 50, [] {},
                [this, context] {
                    ++ticks;
                    context->unwatch();
                });
            return std::make_unique<NoHandle>();
        }
        EditorSize size() const override { return {900, 600}; }
        bool set_scale_factor(float) override { return true; }
        void param_value_changed(std::string_view, float) override {}
        void param_modulation_changed(std::string_view, float) override {}
        void param_values_changed() override {}
        struct NoHandle final : EditorHandle {};
        int pipe_fd = 0;
        bool watched = false;
        int ticks = 0;
    };
    EndingEditor* editor = nullptr;
    editor_override = [&editor] {
        auto e = std::make_unique<EndingEditor>();
        editor = e.get();
        return e;
    };
    Instance inst;
    editor_override = nullptr;
    ASSERT_NE(editor, nullptr);
    Frame frame;
    IPlugView* view = inst.ctrl().create_view(inst.controller, "editor");
    ASSERT_NE(view, nullptr);
    view->vtbl->set_frame(view, frame.frame());
    ASSERT_EQ(view->vtbl->attached(view, reinterpret_cast<void*>(0x4200001), "X11EmbedWindowID"), kResultOk);
    ASSERT_TRUE(editor->watched);
    frame.fire_timer(50);
    EXPECT_EQ(editor->ticks, 1);
    EXPECT_TRUE(frame.fds.empty());
    EXPECT_EQ(frame.timers.size(), 1u) << "only the gesture timer stays";
    frame.fire_timer(50);
    EXPECT_EQ(editor->ticks, 1);
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    EXPECT_TRUE(frame.timers.empty());
    view->vtbl->release(view);
}

} // namespace
