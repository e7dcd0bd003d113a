#pragma once
// A small CLAP host for tests, written against our ABI declarations: a host
// record, input event lists, byte streams that move at most N bytes per call,
// and a stereo process call.

#include "plugin_kit/abi/clap/core.hpp"
#include "plugin_kit/abi/clap/extensions.hpp"
#include "plugin_kit/abi/clap/process.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace clap_test {

using namespace plugin_kit::clap_abi;

// A host that offers no extensions.
struct TestHost {
    clap_host host{};
    int callback_requests = 0; // request_callback calls not yet answered by run_main_thread_callbacks

    TestHost() {
        host.clap_version = CLAP_VERSION_1_2_2;
        host.host_data = this;
        host.name = "test host";
        host.vendor = "tests";
        host.url = "";
        host.version = "1.0";
        host.get_extension = [](const clap_host*, const char*) -> const void* { return nullptr; };
        host.request_restart = [](const clap_host*) {};
        host.request_process = [](const clap_host*) {};
        host.request_callback = [](const clap_host* h) { ++static_cast<TestHost*>(h->host_data)->callback_requests; };
    }
};

// Input events, kept in the order added (tests add them sorted by time).
class EventList {
public:
    EventList() {
        list_.ctx = this;
        list_.size = [](const clap_input_events* l) {
            return static_cast<uint32_t>(static_cast<const EventList*>(l->ctx)->events_.size());
        };
        list_.get = [](const clap_input_events* l, uint32_t i) -> const clap_event_header* {
            const auto* self = static_cast<const EventList*>(l->ctx);
            return i < self->events_.size() ? &self->events_[i].header : nullptr;
        };
    }
    EventList(const EventList& other) : EventList() { events_ = other.events_; }
    EventList& operator=(const EventList& other) {
        events_ = other.events_;
        return *this;
    }

    void param_value(uint32_t time, clap_id id, double value) {
        Event e{};
        e.value = clap_event_param_value{header(time, CLAP_EVENT_PARAM_VALUE, sizeof(clap_event_param_value)),
                                         id, nullptr, -1, -1, -1, -1, value};
        events_.push_back(e);
    }
    void param_mod(uint32_t time, clap_id id, double amount) {
        Event e{};
        e.mod = clap_event_param_mod{header(time, CLAP_EVENT_PARAM_MOD, sizeof(clap_event_param_mod)), id,
                                     nullptr, -1, -1, -1, -1, amount};
        events_.push_back(e);
    }
    void transport(uint32_t time, bool playing, double tempo) {
        Event e{};
        e.transport = clap_event_transport{};
        e.transport.header = header(time, CLAP_EVENT_TRANSPORT, sizeof(clap_event_transport));
        e.transport.flags = CLAP_TRANSPORT_HAS_TEMPO | (playing ? CLAP_TRANSPORT_IS_PLAYING : 0u);
        e.transport.tempo = tempo;
        events_.push_back(e);
    }
    void note_on(uint32_t time) {
        Event e{};
        e.value.header = header(time, CLAP_EVENT_NOTE_ON, 32);
        events_.push_back(e);
    }

    const clap_input_events* list() const { return &list_; }
    bool empty() const { return events_.empty(); }

    // The events of [begin, end), re-timed to start at `begin`.
    EventList slice(uint32_t begin, uint32_t end, bool last) const {
        EventList out;
        for (const Event& e : events_) {
            if (e.header.time >= begin && (e.header.time < end || last)) {
                Event copy = e;
                copy.header.time -= begin;
                out.events_.push_back(copy);
            }
        }
        return out;
    }

private:
    union Event {
        clap_event_header header;
        clap_event_param_value value;
        clap_event_param_mod mod;
        clap_event_transport transport;
    };

    static clap_event_header header(uint32_t time, uint16_t type, uint32_t size) {
        return clap_event_header{size, time, CLAP_CORE_EVENT_SPACE_ID, type, 0};
    }

    std::vector<Event> events_;
    clap_input_events list_{};
};

// An output stream that takes at most `piece` bytes per call.
struct PieceOutStream {
    clap_ostream stream{};
    uint64_t piece;
    std::string bytes;

    explicit PieceOutStream(uint64_t piece_size) : piece(piece_size) {
        stream.ctx = this;
        stream.write = [](const clap_ostream* s, const void* data, uint64_t size) -> int64_t {
            auto* self = static_cast<PieceOutStream*>(s->ctx);
            const uint64_t n = std::min(size, self->piece);
            self->bytes.append(static_cast<const char*>(data), n);
            return static_cast<int64_t>(n);
        };
    }
};

// An input stream that hands out at most `piece` bytes per call.
struct PieceInStream {
    clap_istream stream{};
    std::string bytes;
    uint64_t piece;
    size_t pos = 0;

    PieceInStream(std::string content, uint64_t piece_size) : bytes(std::move(content)), piece(piece_size) {
        stream.ctx = this;
        stream.read = [](const clap_istream* s, void* data, uint64_t size) -> int64_t {
            auto* self = static_cast<PieceInStream*>(s->ctx);
            const uint64_t n = std::min<uint64_t>({size, self->piece, self->bytes.size() - self->pos});
            std::memcpy(data, self->bytes.data() + self->pos, n);
            self->pos += n;
            return static_cast<int64_t>(n);
        };
    }
};

// Stereo buffers for one process call: separate input and output, or in place.
struct StereoBlock {
    std::vector<float> in_l, in_r, out_l, out_r;
    float* in_ptrs[2];
    float* out_ptrs[2];
    clap_audio_buffer input{};
    clap_audio_buffer output{};

    StereoBlock(const std::vector<float>& left, const std::vector<float>& right, bool in_place)
        : in_l(left), in_r(right), out_l(left.size(), -99.0f), out_r(right.size(), -99.0f) {
        in_ptrs[0] = in_l.data();
        in_ptrs[1] = in_r.data();
        out_ptrs[0] = in_place ? in_l.data() : out_l.data();
        out_ptrs[1] = in_place ? in_r.data() : out_r.data();
        input = clap_audio_buffer{in_ptrs, nullptr, 2, 0, 0};
        output = clap_audio_buffer{out_ptrs, nullptr, 2, 0, 0};
    }
    const float* left() const { return out_ptrs[0]; }
    const float* right() const { return out_ptrs[1]; }
};

// Runs one process call over `block` with `events` and an optional transport.
inline clap_process_status run_process(const clap_plugin* plugin, StereoBlock& block, uint32_t frames,
                                       const EventList& events, const clap_event_transport* transport = nullptr) {
    static const clap_output_events no_output{
        nullptr, [](const clap_output_events*, const clap_event_header*) { return true; }};
    clap_process p{};
    p.steady_time = -1;
    p.frames_count = frames;
    p.transport = transport;
    p.audio_inputs = &block.input;
    p.audio_outputs = &block.output;
    p.audio_inputs_count = 1;
    p.audio_outputs_count = 1;
    p.in_events = events.list();
    p.out_events = &no_output;
    return plugin->process(plugin, &p);
}

} // namespace clap_test
