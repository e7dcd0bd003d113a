#pragma once
// A small VST3 host for the adapter's tests, written against our own ABI
// declarations: a memory stream with failure knobs, host-side parameter
// change lists, a fake plug-in that records what it was asked, and helpers
// that drive a factory the way a host does.

#include "plugin_kit/abi/vst3/base.hpp"
#include "plugin_kit/abi/vst3/gui.hpp"
#include "plugin_kit/abi/vst3/vst.hpp"
#include "plugin_kit/params/params.hpp"
#include "plugin_kit/plugin/plugin.hpp"
#include "plugin_kit/vst3/vst3.hpp"

#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vst3_test {

using namespace plugin_kit;
using namespace plugin_kit::vst3_abi;

// --- memory stream -------------------------------------------------------------

struct MemoryStream {
    const IBStreamVtbl* vtbl = &table;
    std::string data;
    int64 pos = 0;
    // Failure knobs.
    bool fail_seek = false;     // every seek fails
    int32 read_shortfall = 0;   // a read delivers this many bytes fewer
    int32 read_chunk = 0;       // > 0: a read delivers at most this many bytes
    int32 write_chunk = 0;      // > 0: a write takes at most this many bytes
    bool fail_write = false;    // every write fails

    IBStream* stream() { return reinterpret_cast<IBStream*>(this); }

    static MemoryStream* self(void* s) { return static_cast<MemoryStream*>(s); }
    static tresult qi(void*, const TUID, void** obj) {
        *obj = nullptr;
        return kNoInterface;
    }
    static uint32 ref(void*) { return 1; }
    static tresult read(void* s, void* buffer, int32 num_bytes, int32* num_read) {
        MemoryStream* m = self(s);
        const int64 left = static_cast<int64>(m->data.size()) - m->pos;
        int64 n = std::clamp<int64>(num_bytes, 0, std::max<int64>(left, 0));
        n = std::max<int64>(0, n - m->read_shortfall);
        if (m->read_chunk > 0) {
            n = std::min<int64>(n, m->read_chunk);
        }
        std::memcpy(buffer, m->data.data() + m->pos, static_cast<size_t>(n));
        m->pos += n;
        if (num_read != nullptr) {
            *num_read = static_cast<int32>(n);
        }
        return kResultOk;
    }
    static tresult write(void* s, void* buffer, int32 num_bytes, int32* num_written) {
        MemoryStream* m = self(s);
        if (m->fail_write) {
            return kResultFalse;
        }
        const int32 n = m->write_chunk > 0 ? std::min(num_bytes, m->write_chunk) : num_bytes;
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
        if (m->fail_seek) {
            return kResultFalse;
        }
        int64 base = 0;
        if (mode == kIBSeekCur) {
            base = m->pos;
        } else if (mode == kIBSeekEnd) {
            base = static_cast<int64>(m->data.size());
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
        *pos = self(s)->pos;
        return kResultOk;
    }
    static constexpr IBStreamVtbl table = {qi, ref, ref, read, write, seek, tell};
};

// --- parameter changes ----------------------------------------------------------

struct ValueQueue {
    const IParamValueQueueVtbl* vtbl = &table;
    ParamID id = 0;
    std::vector<std::pair<int32, ParamValue>> points;

    static ValueQueue* self(void* s) { return static_cast<ValueQueue*>(s); }
    static tresult qi(void*, const TUID, void** obj) {
        *obj = nullptr;
        return kNoInterface;
    }
    static uint32 ref(void*) { return 1; }
    static ParamID get_id(void* s) { return self(s)->id; }
    static int32 count(void* s) { return static_cast<int32>(self(s)->points.size()); }
    static tresult get_point(void* s, int32 index, int32* offset, ParamValue* value) {
        ValueQueue* q = self(s);
        if (index < 0 || static_cast<size_t>(index) >= q->points.size()) {
            return kInvalidArgument;
        }
        *offset = q->points[static_cast<size_t>(index)].first;
        *value = q->points[static_cast<size_t>(index)].second;
        return kResultOk;
    }
    static tresult add_point(void*, int32, ParamValue, int32*) { return kResultFalse; }
    static constexpr IParamValueQueueVtbl table = {qi, ref, ref, get_id, count, get_point, add_point};
};

struct ChangeList {
    const IParameterChangesVtbl* vtbl = &table;
    std::vector<std::unique_ptr<ValueQueue>> queues;

    IParameterChanges* changes() { return reinterpret_cast<IParameterChanges*>(this); }
    void add(ParamID id, int32 offset, ParamValue value) {
        for (auto& q : queues) {
            if (q->id == id) {
                q->points.emplace_back(offset, value);
                return;
            }
        }
        auto q = std::make_unique<ValueQueue>();
        q->id = id;
        q->points.emplace_back(offset, value);
        queues.push_back(std::move(q));
    }

    static ChangeList* self(void* s) { return static_cast<ChangeList*>(s); }
    static tresult qi(void*, const TUID, void** obj) {
        *obj = nullptr;
        return kNoInterface;
    }
    static uint32 ref(void*) { return 1; }
    static int32 count(void* s) { return static_cast<int32>(self(s)->queues.size()); }
    static IParamValueQueue* get(void* s, int32 index) {
        ChangeList* c = self(s);
        if (index < 0 || static_cast<size_t>(index) >= c->queues.size()) {
            return nullptr;
        }
        return reinterpret_cast<IParamValueQueue*>(c->queues[static_cast<size_t>(index)].get());
    }
    static IParamValueQueue* add_data(void*, const ParamID*, int32*) { return nullptr; }
    static constexpr IParameterChangesVtbl table = {qi, ref, ref, count, get, add_data};
};

// --- fake plug-in ------------------------------------------------------------------

// One parameter of each kind.
struct FakeParams final : Params {
    // Output gain: what the fake plug-in multiplies its input by.
    FloatParam level{"Level", 1.0f, FloatRange::linear(0.0f, 2.0f), [] {
                         FloatParamOptions o;
                         o.unit = " x";
                         o.value_to_string = formatters::v2s_rounded(2);
                         return o;
                     }()};
    FloatParam freq{"Frequency", 440.0f, FloatRange::skewed(40.0f, 5000.0f, 0.25f), [] {
                        FloatParamOptions o;
                        o.unit = " Hz";
                        o.value_to_string = formatters::v2s_hz_then_khz(0);
                        o.unit_in_value_text = true;
                        return o;
                    }()};
    IntParam count{"Count", 4, IntRange{2, 16}};
    BoolParam enable{"Enable", false};
    EnumParam mode{"Mode", 0, {"Formant", "Stoch", "Swarm"}};

    std::vector<ParamMapEntry> param_map() override {
        return {{"level", &level, ""},
                {"freq", &freq, ""},
                {"count", &count, ""},
                {"enable", &enable, ""},
                {"mode", &mode, ""}};
    }
};

// What one call of `process` saw.
struct ProcessCall {
    uint32_t frames = 0;
    size_t channels = 0;
    Transport transport;
    float level = 0.0f;
    bool flush_to_zero = false;
};

inline bool flush_to_zero_on() { return (_mm_getcsr() & 0x8040u) == 0x8040u; }

class FakePlugin final : public Plugin {
public:
    static inline std::atomic<int> live{0};

    FakePlugin() { ++live; }
    ~FakePlugin() override { --live; }

    std::shared_ptr<Params> params() const override { return params_; }
    std::unique_ptr<Editor> editor() override;
    bool initialize(const AudioIOLayout&, const BufferConfig& config) override {
        ++initialize_count;
        sample_rate = config.sample_rate;
        return true;
    }
    void reset() override {
        ++reset_count;
        reset_saw_flush_to_zero = flush_to_zero_on();
    }
    void deactivate() override { ++deactivate_count; }
    ProcessStatus process(AudioBuffer& buffer, const Transport& transport) override {
        const float gain = params_->level.value();
        calls.push_back({buffer.frame_count, buffer.channels.size(), transport, gain, flush_to_zero_on()});
        if (buffer.channels.size() >= 2) {
            for (uint32_t i = 0; i < buffer.frame_count; ++i) {
                buffer.channels[0][i] *= gain;
                buffer.channels[1][i] *= gain;
            }
        }
        return ProcessStatus::Normal;
    }

    std::shared_ptr<FakeParams> params_ = std::make_shared<FakeParams>();
    bool offers_editor = true;
    int editor_requests = 0;
    int initialize_count = 0;
    int reset_count = 0;
    int deactivate_count = 0;
    float sample_rate = 0.0f;
    bool reset_saw_flush_to_zero = false;
    std::vector<ProcessCall> calls;
};

// The most recently created fake plug-in and editor, for inspection.
inline FakePlugin* last_plugin = nullptr;
inline NoWindowEditor* last_editor = nullptr;
// When set, the editor the next fake plug-ins answer with (instead of a
// NoWindowEditor); tests that need an editor of their own set and clear it.
inline std::function<std::unique_ptr<Editor>()> editor_override;

inline std::unique_ptr<Plugin> make_fake_plugin() {
    last_editor = nullptr;
    auto plugin = std::make_unique<FakePlugin>();
    last_plugin = plugin.get();
    return plugin;
}

// A fake plug-in whose editor hook answers nothing.
inline std::unique_ptr<Plugin> make_fake_plugin_without_editor() {
    auto plugin = make_fake_plugin();
    static_cast<FakePlugin&>(*plugin).offers_editor = false;
    return plugin;
}

inline std::unique_ptr<Editor> FakePlugin::editor() {
    ++editor_requests;
    if (!offers_editor) {
        return nullptr;
    }
    if (editor_override) {
        return editor_override();
    }
    auto editor = std::make_unique<NoWindowEditor>(EditorSize{900, 600});
    last_editor = editor.get();
    return editor;
}

constexpr Uid test_class_id = {'C', 'o', 'r', 'T', 'e', 's', 's', 'e', 'l', 'l', 'g', 'r', 'o', 'v', 'e', 0};

inline const Vst3Descriptor test_descriptor{
    "Tessellgrove", "Corvalune", "0.1.0", "https://corvalune.example", "support@corvalune.example",
    test_class_id,  "Fx|Distortion", "VST 3.6.14", make_fake_plugin,
};

// --- host-side helpers ----------------------------------------------------------

template <typename T>
T* query(void* object, const Uid& iid) {
    auto* unknown = static_cast<FUnknown*>(object);
    void* out = nullptr;
    if (unknown->vtbl->query_interface(unknown, reinterpret_cast<const char*>(iid.data()), &out) != kResultOk) {
        return nullptr;
    }
    return static_cast<T*>(out);
}

inline uint32 release(void* object) {
    auto* unknown = static_cast<FUnknown*>(object);
    return unknown->vtbl->release(unknown);
}

inline uint32 add_ref(void* object) {
    auto* unknown = static_cast<FUnknown*>(object);
    return unknown->vtbl->add_ref(unknown);
}

// Typed calls through an interface pointer whose table is `Vtbl`.
template <typename Vtbl>
const Vtbl& table_of(void* object) {
    return **static_cast<const Vtbl* const*>(object);
}

// One instance created through a factory, with the interfaces a host uses.
struct Instance {
    IPluginFactory3* factory = nullptr;
    void* component = nullptr;  // IComponent
    void* processor = nullptr;  // IAudioProcessor
    void* controller = nullptr; // IEditController
    FakePlugin* plugin = nullptr;
    NoWindowEditor* editor = nullptr;

    explicit Instance(const Vst3Descriptor& descriptor = test_descriptor) {
        factory = create_vst3_factory(descriptor);
        void* obj = nullptr;
        factory->vtbl->create_instance(factory, reinterpret_cast<const char*>(descriptor.class_id.data()),
                                       reinterpret_cast<const char*>(IComponent_iid.data()), &obj);
        component = obj;
        plugin = last_plugin;
        editor = last_editor;
        processor = query<void>(component, IAudioProcessor_iid);
        controller = query<void>(component, IEditController_iid);
    }
    ~Instance() {
        if (controller != nullptr) {
            release(controller);
        }
        if (processor != nullptr) {
            release(processor);
        }
        if (component != nullptr) {
            release(component);
        }
        if (factory != nullptr) {
            factory->vtbl->release(factory);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const IComponentVtbl& comp() const { return table_of<IComponentVtbl>(component); }
    const IAudioProcessorVtbl& proc() const { return table_of<IAudioProcessorVtbl>(processor); }
    const IEditControllerVtbl& ctrl() const { return table_of<IEditControllerVtbl>(controller); }

    tresult setup(double rate = 48000.0, int32 max_block = 512) {
        ProcessSetup s{kRealtime, kSample32, max_block, rate};
        return proc().setup_processing(processor, &s);
    }
    tresult set_active(bool on) { return comp().set_active(component, on ? 1 : 0); }
    tresult set_processing(bool on) { return proc().set_processing(processor, on ? 1 : 0); }
    // setupProcessing, setActive(true), setProcessing(true).
    void start(double rate = 48000.0) {
        setup(rate);
        set_active(true);
        set_processing(true);
    }

    tresult save(MemoryStream& stream) { return comp().get_state(component, stream.stream()); }
    tresult load(MemoryStream& stream) { return comp().set_state(component, stream.stream()); }
    ParamValue normalized(ParamID id) { return ctrl().get_param_normalized(controller, id); }
    tresult set_normalized(ParamID id, ParamValue v) { return ctrl().set_param_normalized(controller, id, v); }
};

// A stereo block with separate or shared (in-place) input and output buffers.
struct Block {
    std::vector<float> in_l, in_r, out_l, out_r;
    float* in_ptrs[2]{};
    float* out_ptrs[2]{};
    AudioBusBuffers input{};
    AudioBusBuffers output{};
    ProcessData data{};
    ProcessContext context{};

    Block(int32 frames, bool in_place, float value = 1.0f)
        : in_l(static_cast<size_t>(frames), value), in_r(static_cast<size_t>(frames), value),
          out_l(static_cast<size_t>(frames), in_place ? value : -7.0f),
          out_r(static_cast<size_t>(frames), in_place ? value : -7.0f) {
        out_ptrs[0] = out_l.data();
        out_ptrs[1] = out_r.data();
        in_ptrs[0] = in_place ? out_ptrs[0] : in_l.data();
        in_ptrs[1] = in_place ? out_ptrs[1] : in_r.data();
        input.num_channels = 2;
        input.channel_buffers32 = in_ptrs;
        output.num_channels = 2;
        output.channel_buffers32 = out_ptrs;
        data.process_mode = kRealtime;
        data.symbolic_sample_size = kSample32;
        data.num_samples = frames;
        data.num_inputs = 1;
        data.num_outputs = 1;
        data.inputs = &input;
        data.outputs = &output;
        data.process_context = &context;
    }
};

} // namespace vst3_test
