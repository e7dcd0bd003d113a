#pragma once
// The CLAP side of the plug-in framework: a plug-in factory for one plug-in
// class and the host-facing plug-in object that drives a `plugin_kit::Plugin`.
//
// The factory builds its descriptor once, on first use, from a
// `ClapPluginInfo`, and creates one `ClapPluginInstance` per host instance.
// Each ABI function of the plug-in object and its extensions is a static
// trampoline named after it: it recovers the instance from `plugin_data`,
// checks the host's call order (init once, activate before start_processing,
// process only while processing, ...) and answers misuse with the standard's
// false / null / CLAP_PROCESS_ERROR instead of forwarding. Nothing throws
// across the ABI.
//
// Offered extensions: audio-ports-config, audio-ports, gui (X11, embedded;
// only when the plug-in has an editor), latency (0), params,
// posix-fd-support and timer-support (only with an editor: its link to the
// page runs on the host's main loop when the host offers both), remote-controls
// (no pages), render, state (length-prefixed JSON), tail (0).
// Every other id is null.
//
// The editor: asked for once (`Plugin::editor`) right after the plug-in is
// built, opened by gui.set_parent and closed by gui.destroy. It hears of
// host parameter changes and modulation only on the main thread: the audio
// thread (or whichever thread flushes parameters) marks the parameters it
// changed in lock-free flags and asks the host for a main-thread callback,
// where the marks are turned into `param_value_changed` and
// `param_modulation_changed`. A state load calls `param_values_changed`.
//
// Gestures from the editor (its GUI context, any non-real-time thread) are
// queued lock-free and leave as CLAP_EVENT_PARAM_GESTURE_BEGIN, _VALUE and
// _GESTURE_END output events at the next process or params flush, each value
// applied to its parameter first; while the host is not processing, the
// context asks it for a flush (host params.request_flush).
//
// Threads: the factory is thread-safe. Main-thread calls (activate,
// deactivate, state load) and audio-thread calls (start_processing, reset,
// process) meet on one mutex that the audio thread only ever try-locks: a
// block that finds a state load in progress passes its input through.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/abi/clap/extensions.hpp"
#include "plugin_kit/abi/clap/process.hpp"
#include "plugin_kit/params/params.hpp"
#include "plugin_kit/plugin/plugin.hpp"

#include <concurrentqueue/concurrentqueue.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plugin_kit {

// Identity and fixed capabilities of a CLAP plug-in class.
struct ClapPluginInfo {
    std::string_view id;          // reverse-domain CLAP id
    std::string_view name;
    std::string_view vendor;
    std::string_view url;         // vendor web address
    std::string_view version;     // also the "version" written into saved states
    std::string_view description;
    std::vector<std::string_view> features; // in order; the descriptor closes them with null
    // The one audio layout: a main input and a main output of two channels.
    std::string_view layout_name = "Stereo";
    std::string_view input_port_name = "Input";
    std::string_view output_port_name = "Output";
};

// Makes a new plug-in instance; may throw (the adapter catches).
using PluginCreateFn = std::unique_ptr<Plugin> (*)();

// The plug-in factory of one class. Keep it in static storage: hosts hold
// pointers into it until the library is unloaded.
class ClapPluginFactory {
public:
    ClapPluginFactory(ClapPluginInfo info, PluginCreateFn create) noexcept;
    ClapPluginFactory(const ClapPluginFactory&) = delete;
    ClapPluginFactory& operator=(const ClapPluginFactory&) = delete;

    // The factory record hosts call.
    const clap_abi::clap_plugin_factory* factory() const noexcept { return &record_.factory; }
    // What `clap_plugin_entry::get_factory` answers: the factory for exactly
    // "clap.plugin-factory", null for any other id and for null.
    const void* get_factory(const char* factory_id) const noexcept;
    // The descriptor, built on first use and then reused.
    const clap_abi::clap_plugin_descriptor* descriptor() noexcept;
    const ClapPluginInfo& info() const noexcept { return info_; }

private:
    // Record and owner side by side, so a trampoline gets from the pointer
    // the host holds back to this object.
    struct Record {
        clap_abi::clap_plugin_factory factory;
        ClapPluginFactory* owner;
    };

    static uint32_t get_plugin_count(const clap_abi::clap_plugin_factory* factory);
    static const clap_abi::clap_plugin_descriptor* get_plugin_descriptor(
        const clap_abi::clap_plugin_factory* factory, uint32_t index);
    static const clap_abi::clap_plugin* create_plugin(const clap_abi::clap_plugin_factory* factory,
                                                      const clap_abi::clap_host* host,
                                                      const char* plugin_id);
    static ClapPluginFactory* from(const clap_abi::clap_plugin_factory* factory) noexcept;

    void build_descriptor();

    ClapPluginInfo info_;
    PluginCreateFn create_;
    Record record_;
    std::once_flag descriptor_once_;
    // Zero-terminated copies the descriptor points into.
    std::array<std::string, 6> texts_;
    std::vector<const char*> feature_ptrs_;
    std::vector<std::string> feature_texts_;
    clap_abi::clap_plugin_descriptor descriptor_{};
};

// One host instance: the CLAP plug-in object around a `Plugin`.
class ClapPluginInstance {
public:
    ClapPluginInstance(const clap_abi::clap_host* host, const clap_abi::clap_plugin_descriptor* descriptor,
                       const ClapPluginInfo& info, std::unique_ptr<Plugin> plugin);
    ClapPluginInstance(const ClapPluginInstance&) = delete;
    ClapPluginInstance& operator=(const ClapPluginInstance&) = delete;

    // The object handed to the host; `destroy` through it deletes this.
    const clap_abi::clap_plugin* as_clap_plugin() const noexcept { return &plugin_record_; }
    Plugin& plugin() noexcept { return *plugin_; }
    // The host this instance was created for.
    const clap_abi::clap_host* host() const noexcept { return host_; }

private:
    // --- clap_plugin ---
    static bool init(const clap_abi::clap_plugin* plugin);
    static void destroy(const clap_abi::clap_plugin* plugin);
    static bool activate(const clap_abi::clap_plugin* plugin, double sample_rate, uint32_t min_frames_count,
                         uint32_t max_frames_count);
    static void deactivate(const clap_abi::clap_plugin* plugin);
    static bool start_processing(const clap_abi::clap_plugin* plugin);
    static void stop_processing(const clap_abi::clap_plugin* plugin);
    static void reset(const clap_abi::clap_plugin* plugin);
    static clap_abi::clap_process_status process(const clap_abi::clap_plugin* plugin,
                                                 const clap_abi::clap_process* process);
    static const void* get_extension(const clap_abi::clap_plugin* plugin, const char* id);
    static void on_main_thread(const clap_abi::clap_plugin* plugin);

    // --- posix-fd-support, timer-support (the editor's link on the host's main loop) ---
    static void posix_fd_on_fd(const clap_abi::clap_plugin* plugin, int fd, uint32_t flags);
    static void timer_on_timer(const clap_abi::clap_plugin* plugin, clap_abi::clap_id timer_id);

    // --- audio-ports, audio-ports-config ---
    static uint32_t audio_ports_count(const clap_abi::clap_plugin* plugin, bool is_input);
    static bool audio_ports_get(const clap_abi::clap_plugin* plugin, uint32_t index, bool is_input,
                                clap_abi::clap_audio_port_info* info);
    static uint32_t audio_ports_config_count(const clap_abi::clap_plugin* plugin);
    static bool audio_ports_config_get(const clap_abi::clap_plugin* plugin, uint32_t index,
                                       clap_abi::clap_audio_ports_config* config);
    static bool audio_ports_config_select(const clap_abi::clap_plugin* plugin, clap_abi::clap_id config_id);

    // --- gui ---
    static bool gui_is_api_supported(const clap_abi::clap_plugin* plugin, const char* api, bool is_floating);
    static bool gui_get_preferred_api(const clap_abi::clap_plugin* plugin, const char** api, bool* is_floating);
    static bool gui_create(const clap_abi::clap_plugin* plugin, const char* api, bool is_floating);
    static void gui_destroy(const clap_abi::clap_plugin* plugin);
    static bool gui_set_scale(const clap_abi::clap_plugin* plugin, double scale);
    static bool gui_get_size(const clap_abi::clap_plugin* plugin, uint32_t* width, uint32_t* height);
    static bool gui_can_resize(const clap_abi::clap_plugin* plugin);
    static bool gui_get_resize_hints(const clap_abi::clap_plugin* plugin, clap_abi::clap_gui_resize_hints* hints);
    static bool gui_adjust_size(const clap_abi::clap_plugin* plugin, uint32_t* width, uint32_t* height);
    static bool gui_set_size(const clap_abi::clap_plugin* plugin, uint32_t width, uint32_t height);
    static bool gui_set_parent(const clap_abi::clap_plugin* plugin, const clap_abi::clap_window* window);
    static bool gui_set_transient(const clap_abi::clap_plugin* plugin, const clap_abi::clap_window* window);
    static void gui_suggest_title(const clap_abi::clap_plugin* plugin, const char* title);
    static bool gui_show(const clap_abi::clap_plugin* plugin);
    static bool gui_hide(const clap_abi::clap_plugin* plugin);

    // --- latency, tail ---
    static uint32_t latency_get(const clap_abi::clap_plugin* plugin);
    static uint32_t tail_get(const clap_abi::clap_plugin* plugin);

    // --- params ---
    static uint32_t params_count(const clap_abi::clap_plugin* plugin);
    static bool params_get_info(const clap_abi::clap_plugin* plugin, uint32_t param_index,
                                clap_abi::clap_param_info* param_info);
    static bool params_get_value(const clap_abi::clap_plugin* plugin, clap_abi::clap_id param_id, double* out_value);
    static bool params_value_to_text(const clap_abi::clap_plugin* plugin, clap_abi::clap_id param_id, double value,
                                     char* out_buffer, uint32_t out_buffer_capacity);
    static bool params_text_to_value(const clap_abi::clap_plugin* plugin, clap_abi::clap_id param_id,
                                     const char* param_value_text, double* out_value);
    static void params_flush(const clap_abi::clap_plugin* plugin, const clap_abi::clap_input_events* in,
                             const clap_abi::clap_output_events* out);

    // --- remote-controls, render ---
    static uint32_t remote_controls_count(const clap_abi::clap_plugin* plugin);
    static bool remote_controls_get(const clap_abi::clap_plugin* plugin, uint32_t page_index,
                                    clap_abi::clap_remote_controls_page* page);
    static bool render_has_hard_realtime_requirement(const clap_abi::clap_plugin* plugin);
    static bool render_set(const clap_abi::clap_plugin* plugin, clap_abi::clap_plugin_render_mode mode);

    // --- state ---
    static bool state_save(const clap_abi::clap_plugin* plugin, const clap_abi::clap_ostream* stream);
    static bool state_load(const clap_abi::clap_plugin* plugin, const clap_abi::clap_istream* stream);

    static ClapPluginInstance* from(const clap_abi::clap_plugin* plugin) noexcept;

    // Index into param_map_ of the parameter with host id `id`, or nothing.
    std::optional<size_t> find_param_index(clap_abi::clap_id id) const noexcept;
    // The parameter with host id `id`, or nullptr.
    Param* find_param(clap_abi::clap_id id) const noexcept;
    // Applies a parameter value or modulation event; other events are ignored.
    // Marks the parameter for the editor. Any thread; no lock, no allocation.
    void apply_param_event(const clap_abi::clap_event_header& event) noexcept;
    // After a batch of events: asks the host for a main-thread callback when
    // something was marked for the editor and none is pending yet.
    void request_editor_notification() noexcept;
    // Main thread: tells the editor about every marked parameter.
    void notify_editor() noexcept;
    // Host block handling, with the instance lock held.
    void process_locked(const clap_abi::clap_process& process) noexcept;
    // Runs the instance over frames [begin, end) of the output channels.
    void run_piece(uint32_t begin, uint32_t end) noexcept;
    // Copies the main input into the main output where they are different buffers.
    void copy_input_to_output(const clap_abi::clap_process& process) noexcept;
    // Audio thread or flush: applies the queued editor gestures and reports
    // them to the host on `out` (dropped when `out` is null). No lock, no allocation.
    void emit_gestures(const clap_abi::clap_output_events* out) noexcept;
    // Main thread: has the host watch `fd` and tick every `period_ms` for the
    // editor (posix-fd-support and timer-support); false when the host
    // offers either not. `unwatch` ends it.
    bool watch(int fd, uint32_t period_ms, std::function<void()> on_readable, std::function<void()> on_tick);
    void unwatch() noexcept;
    // Editor thread: queues one gesture and, when the host is not
    // processing, asks it for a parameter flush.
    void queue_gesture(uint16_t type, std::string_view id, float normalized) noexcept;
    // Repeats `initialize` with the last known sample rate, then `reset`.
    void reinitialize_after_load();
    BufferConfig buffer_config() const noexcept;

    static constexpr uint32_t channel_count = 2;

    clap_abi::clap_plugin plugin_record_{};
    const clap_abi::clap_host* host_;
    const ClapPluginInfo& info_;
    std::unique_ptr<Plugin> plugin_;
    std::shared_ptr<Params> params_;
    std::vector<ParamMapEntry> param_map_;
    std::vector<std::pair<clap_abi::clap_id, size_t>> params_by_id_; // (host id, index in param_map_), sorted by id
    // Editor gestures waiting for the next process or flush. Declared before
    // the editor and its handle, so the editor's threads (ended with the
    // handle) never see them gone.
    struct Gesture {
        uint16_t type = 0;       // CLAP_EVENT_PARAM_GESTURE_BEGIN, _VALUE or _GESTURE_END
        uint32_t index = 0;      // into param_map_
        float normalized = 0.0f; // for values
    };
    class GuiContextImpl;
    moodycamel::ConcurrentQueue<Gesture> gestures_;
    std::shared_ptr<GuiContext> gui_context_; // handed to the editor when it opens
    std::atomic<bool> processing_now_{false}; // mirror of processing_ for the editor's threads
    // What the host watches for the editor (main thread only). The callbacks
    // stay until the next watch: one may be running when it is unwatched.
    int watched_fd_ = -1;
    std::optional<clap_abi::clap_id> timer_id_;
    std::function<void()> on_readable_;
    std::function<void()> on_tick_;

    // Declared after plugin_ so it goes first; the open handle goes before it.
    std::unique_ptr<Editor> editor_;        // null: the plug-in has no editor
    std::unique_ptr<EditorHandle> editor_handle_; // set while the editor is open

    // Editor notifications waiting for the main thread, one cell per entry of
    // param_map_: bit 0 a value change, bit 1 a modulation change.
    static constexpr uint8_t pending_value = 1;
    static constexpr uint8_t pending_modulation = 2;
    std::unique_ptr<std::atomic<uint8_t>[]> pending_;
    std::atomic<bool> pending_marked_{false};   // some cell was marked since the last request
    std::atomic<bool> callback_requested_{false}; // a main-thread callback is on its way

    // Host call order.
    bool initialized_ = false;
    bool active_ = false;
    bool processing_ = false;
    bool gui_created_ = false;
    // Activation settings, kept for the re-initialisation after a state load.
    std::optional<double> sample_rate_; // known once activated at least once
    uint32_t min_frames_ = 1;
    uint32_t max_frames_ = 4096;
    ProcessMode process_mode_ = ProcessMode::Realtime;

    // Serialises instance calls between the main and the audio thread.
    std::mutex instance_mutex_;

    // Per-block scratch of the audio thread.
    Transport transport_;                        // as of the current piece
    std::array<float*, channel_count> out_{};    // main output channels of the block
    uint32_t out_channels_ = 0;                  // how many of out_ are valid
    std::array<float*, channel_count> piece_{};  // out_ offset to the current piece
};

} // namespace plugin_kit
