#pragma once
// CLAP 1.2 processing ABI: audio buffers, the event header and the events
// plugin_kit reads (parameter value, parameter modulation, transport), the
// input/output event lists and the process record. See core.hpp for how these
// declarations are written and checked.

#include "plugin_kit/abi/clap/core.hpp"

#include <cstddef>
#include <cstdint>

namespace plugin_kit::clap_abi {

// One port's buffers; exactly one of data32/data64 is set.
struct clap_audio_buffer {
    float** data32;
    double** data64;
    uint32_t channel_count;
    uint32_t latency;
    uint64_t constant_mask; // bit n: channel n holds one value throughout (a hint)
};

// Every event starts with this header; `size` includes the header.
struct clap_event_header {
    uint32_t size;
    uint32_t time;     // sample offset inside the block
    uint16_t space_id; // CLAP_CORE_EVENT_SPACE_ID for the events below
    uint16_t type;
    uint32_t flags;
};

inline constexpr uint16_t CLAP_CORE_EVENT_SPACE_ID = 0;

inline constexpr uint16_t CLAP_EVENT_NOTE_ON = 0;
inline constexpr uint16_t CLAP_EVENT_NOTE_OFF = 1;
inline constexpr uint16_t CLAP_EVENT_NOTE_CHOKE = 2;
inline constexpr uint16_t CLAP_EVENT_NOTE_END = 3;
inline constexpr uint16_t CLAP_EVENT_NOTE_EXPRESSION = 4;
inline constexpr uint16_t CLAP_EVENT_PARAM_VALUE = 5;
inline constexpr uint16_t CLAP_EVENT_PARAM_MOD = 6;
inline constexpr uint16_t CLAP_EVENT_PARAM_GESTURE_BEGIN = 7;
inline constexpr uint16_t CLAP_EVENT_PARAM_GESTURE_END = 8;
inline constexpr uint16_t CLAP_EVENT_TRANSPORT = 9;
inline constexpr uint16_t CLAP_EVENT_MIDI = 10;
inline constexpr uint16_t CLAP_EVENT_MIDI_SYSEX = 11;
inline constexpr uint16_t CLAP_EVENT_MIDI2 = 12;

struct clap_event_param_value {
    clap_event_header header;
    clap_id param_id;
    void* cookie;
    int32_t note_id; // -1: any
    int16_t port_index;
    int16_t channel;
    int16_t key;
    double value;
};

struct clap_event_param_mod {
    clap_event_header header;
    clap_id param_id;
    void* cookie;
    int32_t note_id;
    int16_t port_index;
    int16_t channel;
    int16_t key;
    double amount;
};

inline constexpr uint32_t CLAP_TRANSPORT_HAS_TEMPO = 1u << 0;
inline constexpr uint32_t CLAP_TRANSPORT_HAS_BEATS_TIMELINE = 1u << 1;
inline constexpr uint32_t CLAP_TRANSPORT_HAS_SECONDS_TIMELINE = 1u << 2;
inline constexpr uint32_t CLAP_TRANSPORT_HAS_TIME_SIGNATURE = 1u << 3;
inline constexpr uint32_t CLAP_TRANSPORT_IS_PLAYING = 1u << 4;
inline constexpr uint32_t CLAP_TRANSPORT_IS_RECORDING = 1u << 5;
inline constexpr uint32_t CLAP_TRANSPORT_IS_LOOP_ACTIVE = 1u << 6;
inline constexpr uint32_t CLAP_TRANSPORT_IS_WITHIN_PRE_ROLL = 1u << 7;

using clap_beattime = int64_t; // fixed point, 2^31 per beat
using clap_sectime = int64_t;  // fixed point, 2^31 per second

struct clap_event_transport {
    clap_event_header header;
    uint32_t flags;
    clap_beattime song_pos_beats;
    clap_sectime song_pos_seconds;
    double tempo;     // BPM
    double tempo_inc; // per sample, until the next transport event
    clap_beattime loop_start_beats;
    clap_beattime loop_end_beats;
    clap_sectime loop_start_seconds;
    clap_sectime loop_end_seconds;
    clap_beattime bar_start;
    int32_t bar_number;
    uint16_t tsig_num;
    uint16_t tsig_denom;
};

// Host-owned, sorted by time.
struct clap_input_events {
    void* ctx;
    uint32_t (*size)(const clap_input_events* list);
    const clap_event_header* (*get)(const clap_input_events* list, uint32_t index);
};

struct clap_output_events {
    void* ctx;
    bool (*try_push)(const clap_output_events* list, const clap_event_header* event);
};

struct clap_process {
    int64_t steady_time; // -1 when unknown
    uint32_t frames_count;
    const clap_event_transport* transport; // null: free-running host
    const clap_audio_buffer* audio_inputs;
    clap_audio_buffer* audio_outputs;
    uint32_t audio_inputs_count;
    uint32_t audio_outputs_count;
    const clap_input_events* in_events;
    const clap_output_events* out_events;
};

// --- layout checks (x86-64 Linux) ---------------------------------------------
static_assert(sizeof(clap_audio_buffer) == 32);
static_assert(offsetof(clap_audio_buffer, constant_mask) == 24);
static_assert(sizeof(clap_event_header) == 16);
static_assert(offsetof(clap_event_param_value, param_id) == 16);
static_assert(offsetof(clap_event_param_value, cookie) == 24);
static_assert(offsetof(clap_event_param_value, note_id) == 32);
static_assert(offsetof(clap_event_param_value, key) == 40);
static_assert(offsetof(clap_event_param_value, value) == 48);
static_assert(sizeof(clap_event_param_value) == 56);
static_assert(offsetof(clap_event_param_mod, amount) == 48);
static_assert(sizeof(clap_event_param_mod) == 56);
static_assert(offsetof(clap_event_transport, flags) == 16);
static_assert(offsetof(clap_event_transport, song_pos_beats) == 24);
static_assert(offsetof(clap_event_transport, tempo) == 40);
static_assert(offsetof(clap_event_transport, bar_start) == 88);
static_assert(offsetof(clap_event_transport, bar_number) == 96);
static_assert(offsetof(clap_event_transport, tsig_denom) == 102);
static_assert(sizeof(clap_event_transport) == 104);
static_assert(sizeof(clap_input_events) == 24 && sizeof(clap_output_events) == 16);
static_assert(offsetof(clap_process, frames_count) == 8);
static_assert(offsetof(clap_process, transport) == 16);
static_assert(offsetof(clap_process, audio_inputs) == 24);
static_assert(offsetof(clap_process, audio_outputs) == 32);
static_assert(offsetof(clap_process, audio_inputs_count) == 40);
static_assert(offsetof(clap_process, audio_outputs_count) == 44);
static_assert(offsetof(clap_process, in_events) == 48);
static_assert(offsetof(clap_process, out_events) == 56);
static_assert(sizeof(clap_process) == 64);

} // namespace plugin_kit::clap_abi
