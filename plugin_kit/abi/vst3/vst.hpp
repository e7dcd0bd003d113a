#pragma once
// VST3 audio-module ABI: IComponent, IAudioProcessor with its process records,
// parameter changes, the process context, IProcessContextRequirements,
// IEditController with ParameterInfo and IComponentHandler, IUnitInfo,
// IMidiMapping and INoteExpressionController. See base.hpp for how these
// declarations are written and checked.

#include "plugin_kit/abi/vst3/base.hpp"

#include <cstddef>
#include <cstdint>

namespace plugin_kit::vst3_abi {

using TChar = char16;
using String128 = TChar[128];
using MediaType = int32;
using BusDirection = int32;
using BusType = int32;
using IoMode = int32;
using UnitID = int32;
using ParamValue = double;
using ParamID = uint32;
using ProgramListID = int32;
using CtrlNumber = int16;
using TQuarterNotes = double;
using TSamples = int64;
using SpeakerArrangement = uint64;
using NoteExpressionTypeID = uint32;
using NoteExpressionValue = double;

inline constexpr MediaType kAudio = 0;
inline constexpr MediaType kEvent = 1;
inline constexpr BusDirection kInput = 0;
inline constexpr BusDirection kOutput = 1;
inline constexpr BusType kMain = 0;
inline constexpr BusType kAux = 1;
inline constexpr uint32 kDefaultActive = 1u << 0;
inline constexpr SpeakerArrangement kSpeakerArrStereo = 0x3; // left | right
inline constexpr int32 kSample32 = 0;
inline constexpr int32 kSample64 = 1;
inline constexpr int32 kRealtime = 0;
inline constexpr int32 kPrefetch = 1;
inline constexpr int32 kOffline = 2;
inline constexpr UnitID kRootUnitId = 0;
inline constexpr UnitID kNoParentUnitId = -1;
inline constexpr ProgramListID kNoProgramListId = -1;
inline constexpr int32 kCanAutomate = 1 << 0;
inline constexpr int32 kIsList = 1 << 3;
inline constexpr int32 kIsBypass = 1 << 16;
inline constexpr int32 kParamValuesChanged = 1 << 2;
inline constexpr char kFxDistortion[] = "Fx|Distortion";
inline constexpr char kEditorViewType[] = "editor";
inline constexpr char kPlatformTypeX11EmbedWindowID[] = "X11EmbedWindowID";

// --- IComponent -------------------------------------------------------------------
inline constexpr Uid IComponent_iid = inline_uid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);

struct BusInfo {
    MediaType media_type;
    BusDirection direction;
    int32 channel_count;
    String128 name;
    BusType bus_type;
    uint32 flags;
};

struct RoutingInfo {
    MediaType media_type;
    int32 bus_index;
    int32 channel;
};

struct IComponentVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    PLUGIN_KIT_VST3_IPLUGINBASE_ENTRIES;
    tresult (*get_controller_class_id)(void* self, TUID class_id);
    tresult (*set_io_mode)(void* self, IoMode mode);
    int32 (*get_bus_count)(void* self, MediaType type, BusDirection dir);
    tresult (*get_bus_info)(void* self, MediaType type, BusDirection dir, int32 index, BusInfo* bus);
    tresult (*get_routing_info)(void* self, RoutingInfo* in_info, RoutingInfo* out_info);
    tresult (*activate_bus)(void* self, MediaType type, BusDirection dir, int32 index, TBool state);
    tresult (*set_active)(void* self, TBool state);
    tresult (*set_state)(void* self, IBStream* state);
    tresult (*get_state)(void* self, IBStream* state);
};

// --- parameter changes ----------------------------------------------------------
inline constexpr Uid IParamValueQueue_iid = inline_uid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
inline constexpr Uid IParameterChanges_iid = inline_uid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);

struct IParamValueQueueVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    ParamID (*get_parameter_id)(void* self);
    int32 (*get_point_count)(void* self);
    tresult (*get_point)(void* self, int32 index, int32* sample_offset, ParamValue* value);
    tresult (*add_point)(void* self, int32 sample_offset, ParamValue value, int32* index);
};

struct IParamValueQueue {
    const IParamValueQueueVtbl* vtbl;
};

struct IParameterChangesVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    int32 (*get_parameter_count)(void* self);
    IParamValueQueue* (*get_parameter_data)(void* self, int32 index);
    IParamValueQueue* (*add_parameter_data)(void* self, const ParamID* id, int32* index);
};

struct IParameterChanges {
    const IParameterChangesVtbl* vtbl;
};

struct IEventList; // never read: the plug-in takes no events

// --- process context --------------------------------------------------------------
inline constexpr uint32 kPlaying = 1u << 1;
inline constexpr uint32 kCycleActive = 1u << 2;
inline constexpr uint32 kRecording = 1u << 3;
inline constexpr uint32 kTempoValid = 1u << 10;
inline constexpr uint32 kTimeSigValid = 1u << 13;

struct Chord {
    uint8 key_note;
    uint8 root_note;
    int16 chord_mask;
};

struct FrameRate {
    uint32 frames_per_second;
    uint32 flags;
};

struct ProcessContext {
    uint32 state;
    double sample_rate;
    TSamples project_time_samples;
    int64 system_time;
    TSamples continous_time_samples;
    TQuarterNotes project_time_music;
    TQuarterNotes bar_position_music;
    TQuarterNotes cycle_start_music;
    TQuarterNotes cycle_end_music;
    double tempo;
    int32 time_sig_numerator;
    int32 time_sig_denominator;
    Chord chord;
    int32 smpte_offset_subframes;
    FrameRate frame_rate;
    int32 samples_to_next_clock;
};

inline constexpr Uid IProcessContextRequirements_iid =
    inline_uid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
inline constexpr uint32 kNeedTempo = 1u << 6;
inline constexpr uint32 kNeedTransportState = 1u << 10;

struct IProcessContextRequirementsVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    uint32 (*get_process_context_requirements)(void* self);
};

// --- IAudioProcessor --------------------------------------------------------------
inline constexpr Uid IAudioProcessor_iid = inline_uid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);

struct ProcessSetup {
    int32 process_mode;
    int32 symbolic_sample_size;
    int32 max_samples_per_block;
    double sample_rate;
};

struct AudioBusBuffers {
    int32 num_channels;
    uint64 silence_flags;
    union {
        float** channel_buffers32;
        double** channel_buffers64;
    };
};

struct ProcessData {
    int32 process_mode;
    int32 symbolic_sample_size;
    int32 num_samples;
    int32 num_inputs;
    int32 num_outputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* input_parameter_changes;
    IParameterChanges* output_parameter_changes;
    IEventList* input_events;
    IEventList* output_events;
    ProcessContext* process_context;
};

struct IAudioProcessorVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*set_bus_arrangements)(void* self, SpeakerArrangement* inputs, int32 num_ins,
                                    SpeakerArrangement* outputs, int32 num_outs);
    tresult (*get_bus_arrangement)(void* self, BusDirection dir, int32 index, SpeakerArrangement* arr);
    tresult (*can_process_sample_size)(void* self, int32 symbolic_sample_size);
    uint32 (*get_latency_samples)(void* self);
    tresult (*setup_processing)(void* self, ProcessSetup* setup);
    tresult (*set_processing)(void* self, TBool state);
    tresult (*process)(void* self, ProcessData* data);
    uint32 (*get_tail_samples)(void* self);
};

// --- IEditController --------------------------------------------------------------
inline constexpr Uid IEditController_iid = inline_uid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
inline constexpr Uid IComponentHandler_iid = inline_uid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);

struct ParameterInfo {
    ParamID id;
    String128 title;
    String128 short_title;
    String128 units;
    int32 step_count;
    ParamValue default_normalized_value;
    UnitID unit_id;
    int32 flags;
};

struct IComponentHandlerVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*begin_edit)(void* self, ParamID id);
    tresult (*perform_edit)(void* self, ParamID id, ParamValue value_normalized);
    tresult (*end_edit)(void* self, ParamID id);
    tresult (*restart_component)(void* self, int32 flags);
};

struct IComponentHandler {
    const IComponentHandlerVtbl* vtbl;
};

struct IPlugView;

struct IEditControllerVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    PLUGIN_KIT_VST3_IPLUGINBASE_ENTRIES;
    tresult (*set_component_state)(void* self, IBStream* state);
    tresult (*set_state)(void* self, IBStream* state);
    tresult (*get_state)(void* self, IBStream* state);
    int32 (*get_parameter_count)(void* self);
    tresult (*get_parameter_info)(void* self, int32 param_index, ParameterInfo* info);
    tresult (*get_param_string_by_value)(void* self, ParamID id, ParamValue value_normalized,
                                         String128 string);
    tresult (*get_param_value_by_string)(void* self, ParamID id, TChar* string,
                                         ParamValue* value_normalized);
    ParamValue (*normalized_param_to_plain)(void* self, ParamID id, ParamValue value_normalized);
    ParamValue (*plain_param_to_normalized)(void* self, ParamID id, ParamValue plain_value);
    ParamValue (*get_param_normalized)(void* self, ParamID id);
    tresult (*set_param_normalized)(void* self, ParamID id, ParamValue value);
    tresult (*set_component_handler)(void* self, IComponentHandler* handler);
    IPlugView* (*create_view)(void* self, FIDString name);
};

// --- IUnitInfo ----------------------------------------------------------------------
inline constexpr Uid IUnitInfo_iid = inline_uid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);

struct UnitInfo {
    UnitID id;
    UnitID parent_unit_id;
    String128 name;
    ProgramListID program_list_id;
};

struct ProgramListInfo {
    ProgramListID id;
    String128 name;
    int32 program_count;
};

struct IUnitInfoVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    int32 (*get_unit_count)(void* self);
    tresult (*get_unit_info)(void* self, int32 unit_index, UnitInfo* info);
    int32 (*get_program_list_count)(void* self);
    tresult (*get_program_list_info)(void* self, int32 list_index, ProgramListInfo* info);
    tresult (*get_program_name)(void* self, ProgramListID list_id, int32 program_index, String128 name);
    tresult (*get_program_info)(void* self, ProgramListID list_id, int32 program_index,
                                const char8* attribute_id, String128 attribute_value);
    tresult (*has_program_pitch_names)(void* self, ProgramListID list_id, int32 program_index);
    tresult (*get_program_pitch_name)(void* self, ProgramListID list_id, int32 program_index,
                                      int16 midi_pitch, String128 name);
    UnitID (*get_selected_unit)(void* self);
    tresult (*select_unit)(void* self, UnitID unit_id);
    tresult (*get_unit_by_bus)(void* self, MediaType type, BusDirection dir, int32 bus_index,
                               int32 channel, UnitID* unit_id);
    tresult (*set_unit_program_data)(void* self, int32 list_or_unit_id, int32 program_index,
                                     IBStream* data);
};

// --- IMidiMapping, INoteExpressionController ---------------------------------------
inline constexpr Uid IMidiMapping_iid = inline_uid(0xDF0FF9F7, 0x49B74669, 0xB63AB732, 0x7ADBF5E5);
inline constexpr Uid INoteExpressionController_iid =
    inline_uid(0xB7F8F859, 0x41234872, 0x91169581, 0x4F3721A3);

struct IMidiMappingVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    tresult (*get_midi_controller_assignment)(void* self, int32 bus_index, int16 channel,
                                              CtrlNumber midi_controller_number, ParamID* id);
};

// Never filled in: the plug-in reports no note expressions.
struct NoteExpressionTypeInfo;

struct INoteExpressionControllerVtbl {
    PLUGIN_KIT_VST3_FUNKNOWN_ENTRIES;
    int32 (*get_note_expression_count)(void* self, int32 bus_index, int16 channel);
    tresult (*get_note_expression_info)(void* self, int32 bus_index, int16 channel,
                                        int32 note_expression_index, NoteExpressionTypeInfo* info);
    tresult (*get_note_expression_string_by_value)(void* self, int32 bus_index, int16 channel,
                                                   NoteExpressionTypeID id,
                                                   NoteExpressionValue value_normalized,
                                                   String128 string);
    tresult (*get_note_expression_value_by_string)(void* self, int32 bus_index, int16 channel,
                                                   NoteExpressionTypeID id, const TChar* string,
                                                   NoteExpressionValue* value_normalized);
};

// --- layout checks (x86-64 Linux) ---------------------------------------------------
static_assert(offsetof(BusInfo, name) == 12);
static_assert(offsetof(BusInfo, bus_type) == 268);
static_assert(sizeof(BusInfo) == 276);
static_assert(sizeof(RoutingInfo) == 12);
static_assert(sizeof(IComponentVtbl) == 14 * sizeof(void*));
static_assert(offsetof(IComponentVtbl, get_controller_class_id) == 5 * sizeof(void*));
static_assert(offsetof(IComponentVtbl, set_active) == 11 * sizeof(void*));
static_assert(sizeof(IParamValueQueueVtbl) == 7 * sizeof(void*));
static_assert(sizeof(IParameterChangesVtbl) == 6 * sizeof(void*));
static_assert(offsetof(ProcessContext, sample_rate) == 8);
static_assert(offsetof(ProcessContext, project_time_samples) == 16);
static_assert(offsetof(ProcessContext, project_time_music) == 40);
static_assert(offsetof(ProcessContext, tempo) == 72);
static_assert(offsetof(ProcessContext, time_sig_numerator) == 80);
static_assert(offsetof(ProcessContext, chord) == 88);
static_assert(offsetof(ProcessContext, smpte_offset_subframes) == 92);
static_assert(offsetof(ProcessContext, frame_rate) == 96);
static_assert(offsetof(ProcessContext, samples_to_next_clock) == 104);
static_assert(sizeof(ProcessContext) == 112);
static_assert(offsetof(ProcessSetup, sample_rate) == 16 && sizeof(ProcessSetup) == 24);
static_assert(offsetof(AudioBusBuffers, silence_flags) == 8);
static_assert(offsetof(AudioBusBuffers, channel_buffers32) == 16);
static_assert(sizeof(AudioBusBuffers) == 24);
static_assert(offsetof(ProcessData, num_samples) == 8);
static_assert(offsetof(ProcessData, inputs) == 24);
static_assert(offsetof(ProcessData, outputs) == 32);
static_assert(offsetof(ProcessData, input_parameter_changes) == 40);
static_assert(offsetof(ProcessData, input_events) == 56);
static_assert(offsetof(ProcessData, process_context) == 72);
static_assert(sizeof(ProcessData) == 80);
static_assert(sizeof(IAudioProcessorVtbl) == 11 * sizeof(void*));
static_assert(offsetof(IAudioProcessorVtbl, process) == 9 * sizeof(void*));
static_assert(offsetof(ParameterInfo, title) == 4);
static_assert(offsetof(ParameterInfo, short_title) == 260);
static_assert(offsetof(ParameterInfo, units) == 516);
static_assert(offsetof(ParameterInfo, step_count) == 772);
static_assert(offsetof(ParameterInfo, default_normalized_value) == 776);
static_assert(offsetof(ParameterInfo, unit_id) == 784);
static_assert(offsetof(ParameterInfo, flags) == 788);
static_assert(sizeof(ParameterInfo) == 792);
static_assert(sizeof(IComponentHandlerVtbl) == 7 * sizeof(void*));
static_assert(sizeof(IEditControllerVtbl) == 18 * sizeof(void*));
static_assert(offsetof(IEditControllerVtbl, set_component_state) == 5 * sizeof(void*));
static_assert(offsetof(IEditControllerVtbl, create_view) == 17 * sizeof(void*));
static_assert(offsetof(UnitInfo, name) == 8 && offsetof(UnitInfo, program_list_id) == 264);
static_assert(sizeof(UnitInfo) == 268);
static_assert(sizeof(ProgramListInfo) == 264);
static_assert(sizeof(IUnitInfoVtbl) == 15 * sizeof(void*));
static_assert(sizeof(IMidiMappingVtbl) == 4 * sizeof(void*));
static_assert(sizeof(INoteExpressionControllerVtbl) == 7 * sizeof(void*));
static_assert(sizeof(IProcessContextRequirementsVtbl) == 4 * sizeof(void*));

} // namespace plugin_kit::vst3_abi
