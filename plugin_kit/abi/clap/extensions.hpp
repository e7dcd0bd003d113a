#pragma once
// CLAP 1.2 plug-in extensions plugin_kit offers (audio-ports-config,
// audio-ports, gui, latency, params, remote-controls, render, state, tail)
// and the ids of a few it deliberately does not. See core.hpp for how these
// declarations are written and checked.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/abi/clap/process.hpp"

#include <cstddef>
#include <cstdint>

namespace plugin_kit::clap_abi {

inline constexpr char CLAP_EXT_AUDIO_PORTS_CONFIG[] = "clap.audio-ports-config";
inline constexpr char CLAP_EXT_AUDIO_PORTS[] = "clap.audio-ports";
inline constexpr char CLAP_EXT_GUI[] = "clap.gui";
inline constexpr char CLAP_EXT_LATENCY[] = "clap.latency";
inline constexpr char CLAP_EXT_PARAMS[] = "clap.params";
inline constexpr char CLAP_EXT_REMOTE_CONTROLS[] = "clap.remote-controls/2";
inline constexpr char CLAP_EXT_RENDER[] = "clap.render";
inline constexpr char CLAP_EXT_STATE[] = "clap.state";
inline constexpr char CLAP_EXT_TAIL[] = "clap.tail";
// Not offered; named for tests and for the host side of the test harness.
inline constexpr char CLAP_EXT_NOTE_PORTS[] = "clap.note-ports";
inline constexpr char CLAP_EXT_VOICE_INFO[] = "clap.voice-info";
inline constexpr char CLAP_EXT_THREAD_CHECK[] = "clap.thread-check";
inline constexpr char CLAP_PRESET_DISCOVERY_FACTORY_ID[] = "clap.preset-discovery-factory/2";

inline constexpr char CLAP_PORT_MONO[] = "mono";
inline constexpr char CLAP_PORT_STEREO[] = "stereo";

// --- audio ports -------------------------------------------------------------
inline constexpr uint32_t CLAP_AUDIO_PORT_IS_MAIN = 1u << 0;

struct clap_audio_port_info {
    clap_id id;
    char name[CLAP_NAME_SIZE];
    uint32_t flags;
    uint32_t channel_count;
    const char* port_type;
    clap_id in_place_pair; // CLAP_INVALID_ID when none
};

struct clap_plugin_audio_ports {
    uint32_t (*count)(const clap_plugin* plugin, bool is_input);
    bool (*get)(const clap_plugin* plugin, uint32_t index, bool is_input, clap_audio_port_info* info);
};

// --- audio ports config ------------------------------------------------------
struct clap_audio_ports_config {
    clap_id id;
    char name[CLAP_NAME_SIZE];
    uint32_t input_port_count;
    uint32_t output_port_count;
    bool has_main_input;
    uint32_t main_input_channel_count;
    const char* main_input_port_type;
    bool has_main_output;
    uint32_t main_output_channel_count;
    const char* main_output_port_type;
};

struct clap_plugin_audio_ports_config {
    uint32_t (*count)(const clap_plugin* plugin);
    bool (*get)(const clap_plugin* plugin, uint32_t index, clap_audio_ports_config* config);
    bool (*select)(const clap_plugin* plugin, clap_id config_id);
};

// --- gui ---------------------------------------------------------------------
inline constexpr char CLAP_WINDOW_API_X11[] = "x11";
inline constexpr char CLAP_WINDOW_API_WAYLAND[] = "wayland";
inline constexpr char CLAP_WINDOW_API_WIN32[] = "win32";
inline constexpr char CLAP_WINDOW_API_COCOA[] = "cocoa";

struct clap_window {
    const char* api;
    union {
        void* cocoa;
        unsigned long x11;
        void* win32;
        void* ptr;
    };
};

struct clap_gui_resize_hints {
    bool can_resize_horizontally;
    bool can_resize_vertically;
    bool preserve_aspect_ratio;
    uint32_t aspect_ratio_width;
    uint32_t aspect_ratio_height;
};

struct clap_plugin_gui {
    bool (*is_api_supported)(const clap_plugin* plugin, const char* api, bool is_floating);
    bool (*get_preferred_api)(const clap_plugin* plugin, const char** api, bool* is_floating);
    bool (*create)(const clap_plugin* plugin, const char* api, bool is_floating);
    void (*destroy)(const clap_plugin* plugin);
    bool (*set_scale)(const clap_plugin* plugin, double scale);
    bool (*get_size)(const clap_plugin* plugin, uint32_t* width, uint32_t* height);
    bool (*can_resize)(const clap_plugin* plugin);
    bool (*get_resize_hints)(const clap_plugin* plugin, clap_gui_resize_hints* hints);
    bool (*adjust_size)(const clap_plugin* plugin, uint32_t* width, uint32_t* height);
    bool (*set_size)(const clap_plugin* plugin, uint32_t width, uint32_t height);
    bool (*set_parent)(const clap_plugin* plugin, const clap_window* window);
    bool (*set_transient)(const clap_plugin* plugin, const clap_window* window);
    void (*suggest_title)(const clap_plugin* plugin, const char* title);
    bool (*show)(const clap_plugin* plugin);
    bool (*hide)(const clap_plugin* plugin);
};

// --- latency, tail -----------------------------------------------------------
struct clap_plugin_latency {
    uint32_t (*get)(const clap_plugin* plugin);
};

struct clap_plugin_tail {
    uint32_t (*get)(const clap_plugin* plugin);
};

// --- params ------------------------------------------------------------------
inline constexpr uint32_t CLAP_PARAM_IS_STEPPED = 1u << 0;
inline constexpr uint32_t CLAP_PARAM_IS_PERIODIC = 1u << 1;
inline constexpr uint32_t CLAP_PARAM_IS_HIDDEN = 1u << 2;
inline constexpr uint32_t CLAP_PARAM_IS_READONLY = 1u << 3;
inline constexpr uint32_t CLAP_PARAM_IS_BYPASS = 1u << 4;
inline constexpr uint32_t CLAP_PARAM_IS_AUTOMATABLE = 1u << 5;
inline constexpr uint32_t CLAP_PARAM_IS_MODULATABLE = 1u << 10;
inline constexpr uint32_t CLAP_PARAM_REQUIRES_PROCESS = 1u << 15;
inline constexpr uint32_t CLAP_PARAM_IS_ENUM = 1u << 16;

struct clap_param_info {
    clap_id id;
    uint32_t flags;
    void* cookie;
    char name[CLAP_NAME_SIZE];
    char module[CLAP_PATH_SIZE];
    double min_value;
    double max_value;
    double default_value;
};

struct clap_plugin_params {
    uint32_t (*count)(const clap_plugin* plugin);
    bool (*get_info)(const clap_plugin* plugin, uint32_t param_index, clap_param_info* param_info);
    bool (*get_value)(const clap_plugin* plugin, clap_id param_id, double* out_value);
    bool (*value_to_text)(const clap_plugin* plugin, clap_id param_id, double value,
                          char* out_buffer, uint32_t out_buffer_capacity);
    bool (*text_to_value)(const clap_plugin* plugin, clap_id param_id, const char* param_value_text,
                          double* out_value);
    void (*flush)(const clap_plugin* plugin, const clap_input_events* in, const clap_output_events* out);
};

// --- remote controls ---------------------------------------------------------
inline constexpr uint32_t CLAP_REMOTE_CONTROLS_COUNT = 8;

struct clap_remote_controls_page {
    char section_name[CLAP_NAME_SIZE];
    clap_id page_id;
    char page_name[CLAP_NAME_SIZE];
    clap_id param_ids[CLAP_REMOTE_CONTROLS_COUNT];
    bool is_for_preset;
};

struct clap_plugin_remote_controls {
    uint32_t (*count)(const clap_plugin* plugin);
    bool (*get)(const clap_plugin* plugin, uint32_t page_index, clap_remote_controls_page* page);
};

// --- render ------------------------------------------------------------------
using clap_plugin_render_mode = int32_t;
inline constexpr clap_plugin_render_mode CLAP_RENDER_REALTIME = 0;
inline constexpr clap_plugin_render_mode CLAP_RENDER_OFFLINE = 1;

struct clap_plugin_render {
    bool (*has_hard_realtime_requirement)(const clap_plugin* plugin);
    bool (*set)(const clap_plugin* plugin, clap_plugin_render_mode mode);
};

// --- state -------------------------------------------------------------------
struct clap_plugin_state {
    bool (*save)(const clap_plugin* plugin, const clap_ostream* stream);
    bool (*load)(const clap_plugin* plugin, const clap_istream* stream);
};

// --- layout checks (x86-64 Linux) ---------------------------------------------
static_assert(offsetof(clap_audio_port_info, name) == 4);
static_assert(offsetof(clap_audio_port_info, flags) == 260);
static_assert(offsetof(clap_audio_port_info, port_type) == 272);
static_assert(offsetof(clap_audio_port_info, in_place_pair) == 280);
static_assert(sizeof(clap_audio_port_info) == 288);
static_assert(sizeof(clap_plugin_audio_ports) == 16);
static_assert(offsetof(clap_audio_ports_config, input_port_count) == 260);
static_assert(offsetof(clap_audio_ports_config, has_main_input) == 268);
static_assert(offsetof(clap_audio_ports_config, main_input_port_type) == 280);
static_assert(offsetof(clap_audio_ports_config, main_output_port_type) == 296);
static_assert(sizeof(clap_audio_ports_config) == 304);
static_assert(sizeof(clap_plugin_audio_ports_config) == 24);
static_assert(sizeof(clap_window) == 16);
static_assert(sizeof(clap_gui_resize_hints) == 12);
static_assert(sizeof(clap_plugin_gui) == 15 * sizeof(void*));
static_assert(offsetof(clap_param_info, cookie) == 8);
static_assert(offsetof(clap_param_info, name) == 16);
static_assert(offsetof(clap_param_info, module) == 272);
static_assert(offsetof(clap_param_info, min_value) == 1296);
static_assert(offsetof(clap_param_info, default_value) == 1312);
static_assert(sizeof(clap_param_info) == 1320);
static_assert(sizeof(clap_plugin_params) == 6 * sizeof(void*));
static_assert(offsetof(clap_remote_controls_page, page_id) == 256);
static_assert(offsetof(clap_remote_controls_page, param_ids) == 516);
static_assert(sizeof(clap_remote_controls_page) == 552);
static_assert(sizeof(clap_plugin_render) == 16 && sizeof(clap_plugin_state) == 16);

} // namespace plugin_kit::clap_abi
