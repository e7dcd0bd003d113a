#include "plugin_kit/clap/clap_adapter.hpp"

#include "plugin_kit/params/host_info.hpp"
#include "plugin_kit/params/param_id.hpp"
#include "plugin_kit/plugin/denormals.hpp"
#include "plugin_kit/state/framing.hpp"
#include "plugin_kit/state/state.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plugin_kit {

using namespace clap_abi;

namespace {

// Copies `text` into a fixed-size field: cut at `capacity - 1` bytes (never
// inside a UTF-8 sequence) and zero-terminated.
void copy_text(char* out, size_t capacity, std::string_view text) noexcept {
    if (out == nullptr || capacity == 0) {
        return;
    }
    size_t n = std::min(text.size(), capacity - 1);
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) {
            --n; // text[n] continues a sequence: cut before the sequence starts
        }
    }
    if (n > 0) {
        std::memcpy(out, text.data(), n); // an empty view may have a null data()
    }
    out[n] = '\0';
}

bool equals(const char* a, std::string_view b) noexcept {
    return a != nullptr && std::string_view(a) == b;
}

} // namespace

// ============================================================================
// Factory
// ============================================================================

ClapPluginFactory::ClapPluginFactory(ClapPluginInfo info, PluginCreateFn create) noexcept
    : info_(std::move(info)),
      create_(create),
      record_{{&ClapPluginFactory::get_plugin_count, &ClapPluginFactory::get_plugin_descriptor,
               &ClapPluginFactory::create_plugin},
              this} {}

const void* ClapPluginFactory::get_factory(const char* factory_id) const noexcept {
    return equals(factory_id, CLAP_PLUGIN_FACTORY_ID) ? factory() : nullptr;
}

ClapPluginFactory* ClapPluginFactory::from(const clap_plugin_factory* factory) noexcept {
    if (factory == nullptr) {
        return nullptr;
    }
    // `factory` is the first member of a Record (standard layout).
    return reinterpret_cast<const Record*>(factory)->owner;
}

const clap_plugin_descriptor* ClapPluginFactory::descriptor() noexcept {
    std::call_once(descriptor_once_, [this] { build_descriptor(); });
    return &descriptor_;
}

void ClapPluginFactory::build_descriptor() {
    // A zero byte inside an identity text would silently cut it short in
    // every host; that is a build mistake, not a runtime condition.
    const std::pair<std::string_view, const char*> texts[] = {
        {info_.id, "CLAP_ID"},       {info_.name, "NAME"},       {info_.vendor, "VENDOR"},
        {info_.url, "URL"},          {info_.version, "VERSION"}, {info_.description, "CLAP_DESCRIPTION"},
    };
    for (size_t i = 0; i < texts_.size(); ++i) {
        if (texts[i].first.find('\0') != std::string_view::npos) {
            std::fprintf(stderr, "`%s` contained null bytes\n", texts[i].second);
            std::abort();
        }
        texts_[i] = std::string(texts[i].first);
    }
    feature_texts_.assign(info_.features.begin(), info_.features.end());
    for (const std::string& f : feature_texts_) {
        feature_ptrs_.push_back(f.c_str());
    }
    feature_ptrs_.push_back(nullptr);

    descriptor_.clap_version = CLAP_VERSION_1_2_2;
    descriptor_.id = texts_[0].c_str();
    descriptor_.name = texts_[1].c_str();
    descriptor_.vendor = texts_[2].c_str();
    descriptor_.url = texts_[3].c_str();
    descriptor_.manual_url = nullptr;
    descriptor_.support_url = nullptr;
    descriptor_.version = texts_[4].c_str();
    descriptor_.description = texts_[5].c_str();
    descriptor_.features = feature_ptrs_.data();
}

uint32_t ClapPluginFactory::get_plugin_count(const clap_plugin_factory* factory) {
    ClapPluginFactory* self = from(factory);
    if (self == nullptr) {
        return 0;
    }
    self->descriptor();
    return 1;
}

const clap_plugin_descriptor* ClapPluginFactory::get_plugin_descriptor(const clap_plugin_factory* factory,
                                                                       uint32_t index) {
    ClapPluginFactory* self = from(factory);
    if (self == nullptr) {
        return nullptr;
    }
    const clap_plugin_descriptor* desc = self->descriptor();
    return index == 0 ? desc : nullptr;
}

const clap_plugin* ClapPluginFactory::create_plugin(const clap_plugin_factory* factory, const clap_host* host,
                                                    const char* plugin_id) {
    ClapPluginFactory* self = from(factory);
    if (self == nullptr) {
        return nullptr;
    }
    const clap_plugin_descriptor* desc = self->descriptor();
    // Byte for byte including the terminating zero: a prefix or an extension
    // of the id is another plug-in.
    if (plugin_id == nullptr || std::strcmp(plugin_id, desc->id) != 0) {
        return nullptr;
    }
    if (host == nullptr || !clap_version_is_compatible(host->clap_version)) {
        return nullptr;
    }
    try {
        std::unique_ptr<Plugin> plugin = self->create_();
        if (!plugin) {
            return nullptr;
        }
        auto* instance = new ClapPluginInstance(host, desc, self->info_, std::move(plugin));
        return instance->as_clap_plugin();
    } catch (...) {
        return nullptr;
    }
}

// ============================================================================
// Editor gestures
// ============================================================================

namespace {

// Host-side parameter extension ("clap.params") and the gesture event, as
// CLAP 1.2 lays them out; only request_flush is called.
struct clap_host_params_ext {
    void (*rescan)(const clap_host* host, uint32_t flags);
    void (*clear)(const clap_host* host, clap_id param_id, uint32_t flags);
    void (*request_flush)(const clap_host* host);
};

struct clap_event_param_gesture {
    clap_event_header header;
    clap_id param_id;
};

// posix-fd-support and timer-support, host and plug-in sides (CLAP 1.2).
constexpr char ext_posix_fd_support[] = "clap.posix-fd-support";
constexpr char ext_timer_support[] = "clap.timer-support";
constexpr uint32_t posix_fd_read = 1u << 0;
constexpr uint32_t posix_fd_error = 1u << 2;

struct clap_host_posix_fd_support_ext {
    bool (*register_fd)(const clap_host* host, int fd, uint32_t flags);
    bool (*modify_fd)(const clap_host* host, int fd, uint32_t flags);
    bool (*unregister_fd)(const clap_host* host, int fd);
};
struct clap_plugin_posix_fd_support_ext {
    void (*on_fd)(const clap_plugin* plugin, int fd, uint32_t flags);
};
struct clap_host_timer_support_ext {
    bool (*register_timer)(const clap_host* host, uint32_t period_ms, clap_id* timer_id);
    bool (*unregister_timer)(const clap_host* host, clap_id timer_id);
};
struct clap_plugin_timer_support_ext {
    void (*on_timer)(const clap_plugin* plugin, clap_id timer_id);
};

} // namespace

// The GUI context the CLAP editor gets: each call becomes a queued gesture.
class ClapPluginInstance::GuiContextImpl final : public GuiContext {
public:
    explicit GuiContextImpl(ClapPluginInstance& owner) noexcept : owner_(owner) {}
    void begin_edit(std::string_view id) override { owner_.queue_gesture(CLAP_EVENT_PARAM_GESTURE_BEGIN, id, 0.0f); }
    void set_value(std::string_view id, float normalized) override {
        owner_.queue_gesture(CLAP_EVENT_PARAM_VALUE, id, normalized);
    }
    void end_edit(std::string_view id) override { owner_.queue_gesture(CLAP_EVENT_PARAM_GESTURE_END, id, 0.0f); }
    bool watch(int fd, uint32_t period_ms, std::function<void()> on_readable, std::function<void()> on_tick) override {
        return owner_.watch(fd, period_ms, std::move(on_readable), std::move(on_tick));
    }
    void unwatch() override { owner_.unwatch(); }

private:
    ClapPluginInstance& owner_;
};

bool ClapPluginInstance::watch(int fd, uint32_t period_ms, std::function<void()> on_readable,
                               std::function<void()> on_tick) {
    if (host_ == nullptr || host_->get_extension == nullptr || watched_fd_ >= 0 || timer_id_) {
        return false;
    }
    const auto* fds = static_cast<const clap_host_posix_fd_support_ext*>(host_->get_extension(host_, ext_posix_fd_support));
    const auto* timers = static_cast<const clap_host_timer_support_ext*>(host_->get_extension(host_, ext_timer_support));
    if (fds == nullptr || fds->register_fd == nullptr || fds->unregister_fd == nullptr || timers == nullptr ||
        timers->register_timer == nullptr || timers->unregister_timer == nullptr) {
        return false;
    }
    on_readable_ = std::move(on_readable);
    on_tick_ = std::move(on_tick);
    if (!fds->register_fd(host_, fd, posix_fd_read | posix_fd_error)) {
        return false;
    }
    clap_id timer = CLAP_INVALID_ID;
    if (!timers->register_timer(host_, period_ms, &timer)) {
        fds->unregister_fd(host_, fd);
        return false;
    }
    watched_fd_ = fd;
    timer_id_ = timer;
    return true;
}

void ClapPluginInstance::unwatch() noexcept {
    if (host_ == nullptr || host_->get_extension == nullptr) {
        return;
    }
    if (watched_fd_ >= 0) {
        const auto* fds =
            static_cast<const clap_host_posix_fd_support_ext*>(host_->get_extension(host_, ext_posix_fd_support));
        if (fds != nullptr && fds->unregister_fd != nullptr) {
            fds->unregister_fd(host_, watched_fd_);
        }
        watched_fd_ = -1;
    }
    if (timer_id_) {
        const auto* timers =
            static_cast<const clap_host_timer_support_ext*>(host_->get_extension(host_, ext_timer_support));
        if (timers != nullptr && timers->unregister_timer != nullptr) {
            timers->unregister_timer(host_, *timer_id_);
        }
        timer_id_.reset();
    }
}

void ClapPluginInstance::posix_fd_on_fd(const clap_plugin* plugin, int fd, uint32_t /*flags*/) {
    ClapPluginInstance* self = from(plugin);
    if (self != nullptr && fd >= 0 && fd == self->watched_fd_ && self->on_readable_) {
        self->on_readable_();
    }
}

void ClapPluginInstance::timer_on_timer(const clap_plugin* plugin, clap_id timer_id) {
    ClapPluginInstance* self = from(plugin);
    if (self != nullptr && self->timer_id_ && *self->timer_id_ == timer_id && self->on_tick_) {
        self->on_tick_();
    }
}

void ClapPluginInstance::queue_gesture(uint16_t type, std::string_view id, float normalized) noexcept {
    const ParamMapEntry* entry = find_param_entry(param_map_, id);
    if (entry == nullptr || entry->param == nullptr || !std::isfinite(normalized)) {
        return; // an id the page made up, or no value at all
    }
    const auto index = static_cast<uint32_t>(entry - param_map_.data());
    if (!gestures_.enqueue(Gesture{type, index, std::clamp(normalized, 0.0f, 1.0f)})) {
        return;
    }
    // While processing, the next block reports it; otherwise the host is
    // asked for a flush (callable from any thread).
    if (!processing_now_.load() && host_ != nullptr && host_->get_extension != nullptr) {
        const auto* host_params = static_cast<const clap_host_params_ext*>(host_->get_extension(host_, CLAP_EXT_PARAMS));
        if (host_params != nullptr && host_params->request_flush != nullptr) {
            host_params->request_flush(host_);
        }
    }
}

void ClapPluginInstance::emit_gestures(const clap_output_events* out) noexcept {
    Gesture gesture;
    while (gestures_.try_dequeue(gesture)) {
        const ParamMapEntry& entry = param_map_[gesture.index];
        Param& param = *entry.param;
        const clap_id id = param_id_hash(entry.id);
        if (gesture.type == CLAP_EVENT_PARAM_VALUE) {
            param.set_normalized_value(gesture.normalized);
        }
        if (out == nullptr || out->try_push == nullptr) {
            continue;
        }
        if (gesture.type == CLAP_EVENT_PARAM_VALUE) {
            clap_event_param_value event{};
            event.header = {sizeof(event), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            event.param_id = id;
            event.note_id = -1;
            event.port_index = -1;
            event.channel = -1;
            event.key = -1;
            event.value = clap_value_from_normalized(param, param.unmodulated_normalized_value());
            out->try_push(out, &event.header);
        } else {
            clap_event_param_gesture event{};
            event.header = {sizeof(event), 0, CLAP_CORE_EVENT_SPACE_ID, gesture.type, 0};
            event.param_id = id;
            out->try_push(out, &event.header);
        }
    }
}

// ============================================================================
// Instance
// ============================================================================

ClapPluginInstance::ClapPluginInstance(const clap_host* host, const clap_plugin_descriptor* descriptor,
                                       const ClapPluginInfo& info, std::unique_ptr<Plugin> plugin)
    : host_(host), info_(info), plugin_(std::move(plugin)) {
    params_ = plugin_->params();
    if (params_) {
        param_map_ = params_->param_map();
    }
    params_by_id_.reserve(param_map_.size());
    for (size_t i = 0; i < param_map_.size(); ++i) {
        if (param_map_[i].param != nullptr) {
            params_by_id_.emplace_back(param_id_hash(param_map_[i].id), i);
        }
    }
    std::sort(params_by_id_.begin(), params_by_id_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    pending_ = std::make_unique<std::atomic<uint8_t>[]>(param_map_.size());
    // Asked once, after the parameter set; a throw fails the creation.
    editor_ = plugin_->editor();
    if (editor_) {
        gui_context_ = std::make_shared<GuiContextImpl>(*this);
    }

    plugin_record_.desc = descriptor;
    plugin_record_.plugin_data = this;
    plugin_record_.init = &ClapPluginInstance::init;
    plugin_record_.destroy = &ClapPluginInstance::destroy;
    plugin_record_.activate = &ClapPluginInstance::activate;
    plugin_record_.deactivate = &ClapPluginInstance::deactivate;
    plugin_record_.start_processing = &ClapPluginInstance::start_processing;
    plugin_record_.stop_processing = &ClapPluginInstance::stop_processing;
    plugin_record_.reset = &ClapPluginInstance::reset;
    plugin_record_.process = &ClapPluginInstance::process;
    plugin_record_.get_extension = &ClapPluginInstance::get_extension;
    plugin_record_.on_main_thread = &ClapPluginInstance::on_main_thread;
}

ClapPluginInstance* ClapPluginInstance::from(const clap_plugin* plugin) noexcept {
    return plugin == nullptr ? nullptr : static_cast<ClapPluginInstance*>(plugin->plugin_data);
}

std::optional<size_t> ClapPluginInstance::find_param_index(clap_id id) const noexcept {
    const auto it = std::lower_bound(params_by_id_.begin(), params_by_id_.end(), id,
                                     [](const auto& entry, clap_id key) { return entry.first < key; });
    if (it != params_by_id_.end() && it->first == id) {
        return it->second;
    }
    return std::nullopt;
}

Param* ClapPluginInstance::find_param(clap_id id) const noexcept {
    const std::optional<size_t> index = find_param_index(id);
    return index ? param_map_[*index].param : nullptr;
}

BufferConfig ClapPluginInstance::buffer_config() const noexcept {
    BufferConfig config;
    config.sample_rate = static_cast<float>(sample_rate_.value_or(44100.0));
    config.min_buffer_size = min_frames_;
    config.max_buffer_size = max_frames_;
    config.process_mode = process_mode_;
    return config;
}

// --- clap_plugin --------------------------------------------------------------

bool ClapPluginInstance::init(const clap_plugin* plugin) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || self->initialized_) {
        return false; // init twice
    }
    self->initialized_ = true;
    return true;
}

void ClapPluginInstance::destroy(const clap_plugin* plugin) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr) {
        return;
    }
    // Destroying an active instance is host misuse; wind it down properly.
    try {
        if (self->active_) {
            std::lock_guard lock(self->instance_mutex_);
            self->processing_ = false;
            self->processing_now_.store(false);
            self->active_ = false;
            self->plugin_->deactivate();
        }
    } catch (...) {
    }
    delete self;
}

bool ClapPluginInstance::activate(const clap_plugin* plugin, double sample_rate, uint32_t min_frames_count,
                                  uint32_t max_frames_count) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->initialized_ || self->active_) {
        return false; // before init, or activated twice
    }
    if (!std::isfinite(sample_rate) || sample_rate <= 0.0 || sample_rate > 1.0e7) {
        return false; // no rate a processor could run at
    }
    try {
        std::lock_guard lock(self->instance_mutex_);
        self->sample_rate_ = sample_rate;
        self->min_frames_ = min_frames_count;
        self->max_frames_ = std::max(min_frames_count, max_frames_count);
        const AudioIOLayout layout{channel_count, channel_count};
        if (!self->plugin_->initialize(layout, self->buffer_config())) {
            return false;
        }
        self->active_ = true;
        return true;
    } catch (...) {
        return false;
    }
}

void ClapPluginInstance::deactivate(const clap_plugin* plugin) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->active_) {
        return; // not active
    }
    try {
        std::lock_guard lock(self->instance_mutex_);
        self->processing_ = false;
        self->processing_now_.store(false);
        self->active_ = false;
        self->plugin_->deactivate();
    } catch (...) {
    }
}

bool ClapPluginInstance::start_processing(const clap_plugin* plugin) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->active_ || self->processing_) {
        return false; // not active, or started twice
    }
    self->processing_ = true;
    self->processing_now_.store(true);
    // A state load holding the lock resets the instance itself when done.
    std::unique_lock lock(self->instance_mutex_, std::try_to_lock);
    if (lock.owns_lock()) {
        const ScopedFlushDenormals ftz;
        self->plugin_->reset();
    }
    return true;
}

void ClapPluginInstance::stop_processing(const clap_plugin* plugin) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->processing_) {
        return;
    }
    self->processing_ = false;
    self->processing_now_.store(false);
}

void ClapPluginInstance::reset(const clap_plugin* plugin) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->active_) {
        return;
    }
    std::unique_lock lock(self->instance_mutex_, std::try_to_lock);
    if (lock.owns_lock()) {
        const ScopedFlushDenormals ftz;
        self->plugin_->reset();
    }
}

clap_process_status ClapPluginInstance::process(const clap_plugin* plugin, const clap_process* process) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || process == nullptr || !self->active_ || !self->processing_) {
        return CLAP_PROCESS_ERROR; // process outside start/stop_processing
    }
    std::unique_lock lock(self->instance_mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        // A state load is running on the main thread: this block passes
        // through dry, but the host's changes in it still reach the
        // parameters (atomic cells, no lock needed).
        self->copy_input_to_output(*process);
        const clap_input_events* in = process->in_events;
        if (in != nullptr && in->size != nullptr && in->get != nullptr) {
            const uint32_t count = in->size(in);
            for (uint32_t i = 0; i < count; ++i) {
                if (const clap_event_header* event = in->get(in, i)) {
                    self->apply_param_event(*event);
                }
            }
        }
        self->emit_gestures(process->out_events);
        self->request_editor_notification();
        return CLAP_PROCESS_CONTINUE;
    }
    self->emit_gestures(process->out_events);
    self->process_locked(*process);
    self->request_editor_notification();
    return CLAP_PROCESS_CONTINUE;
}

void ClapPluginInstance::copy_input_to_output(const clap_process& process) noexcept {
    out_channels_ = 0;
    if (process.audio_outputs_count == 0 || process.audio_outputs == nullptr) {
        return;
    }
    const clap_audio_buffer& out = process.audio_outputs[0];
    if (out.data32 == nullptr) {
        return;
    }
    const uint32_t n_out = std::min(out.channel_count, channel_count);
    for (uint32_t c = 0; c < n_out; ++c) {
        if (out.data32[c] == nullptr) {
            return;
        }
        out_[c] = out.data32[c];
    }
    out_channels_ = n_out;

    const clap_audio_buffer* in = (process.audio_inputs_count > 0 && process.audio_inputs != nullptr &&
                                   process.audio_inputs[0].data32 != nullptr)
                                      ? &process.audio_inputs[0]
                                      : nullptr;
    const uint32_t frames = process.frames_count;
    for (uint32_t c = 0; c < n_out; ++c) {
        const float* src = (in != nullptr && c < in->channel_count) ? in->data32[c] : nullptr;
        if (src == nullptr) {
            std::fill(out_[c], out_[c] + frames, 0.0f); // no input for this channel: silence
        } else if (src != out_[c]) {
            std::memmove(out_[c], src, sizeof(float) * frames);
        }
    }
}

void ClapPluginInstance::run_piece(uint32_t begin, uint32_t end) noexcept {
    for (uint32_t c = 0; c < out_channels_; ++c) {
        piece_[c] = out_[c] + begin;
    }
    AudioBuffer buffer{std::span<float* const>(piece_.data(), out_channels_), end - begin};
    plugin_->process(buffer, transport_);
}

void ClapPluginInstance::apply_param_event(const clap_event_header& event) noexcept {
    if (event.space_id != CLAP_CORE_EVENT_SPACE_ID) {
        return;
    }
    // Marks for the editor are set after the parameter changed, so the
    // main thread that sees a mark reads the new value.
    if (event.type == CLAP_EVENT_PARAM_VALUE && event.size >= sizeof(clap_event_param_value)) {
        const auto& e = reinterpret_cast<const clap_event_param_value&>(event);
        const std::optional<size_t> index = find_param_index(e.param_id);
        // A non-finite value is no value: the parameter keeps the one it has.
        if (index && std::isfinite(e.value)) {
            Param& param = *param_map_[*index].param;
            param.set_normalized_value(normalized_from_clap_value(param, e.value));
            pending_[*index].fetch_or(pending_value);
            pending_marked_.store(true);
        }
    } else if (event.type == CLAP_EVENT_PARAM_MOD && event.size >= sizeof(clap_event_param_mod)) {
        const auto& e = reinterpret_cast<const clap_event_param_mod&>(event);
        const std::optional<size_t> index = find_param_index(e.param_id);
        if (index && std::isfinite(e.amount)) {
            Param& param = *param_map_[*index].param;
            // The amount travels in CLAP units (normalised x maximum).
            param.set_modulation_offset(static_cast<float>(e.amount / clap_max_value(param)));
            pending_[*index].fetch_or(pending_modulation);
            pending_marked_.store(true);
        }
    }
}

void ClapPluginInstance::process_locked(const clap_process& process) noexcept {
    const ScopedFlushDenormals ftz;
    copy_input_to_output(process);

    transport_ = Transport{};
    if (process.transport != nullptr) {
        const uint32_t flags = process.transport->flags;
        transport_.playing = (flags & CLAP_TRANSPORT_IS_PLAYING) != 0;
        if ((flags & CLAP_TRANSPORT_HAS_TEMPO) != 0) {
            transport_.tempo = process.transport->tempo;
        }
    }

    const uint32_t frames = process.frames_count;
    uint32_t piece_begin = 0;
    bool ran = false;
    const clap_input_events* in = process.in_events;
    const uint32_t event_count = (in != nullptr && in->size != nullptr && in->get != nullptr) ? in->size(in) : 0;
    for (uint32_t i = 0; i < event_count; ++i) {
        const clap_event_header* event = in->get(in, i);
        if (event == nullptr || event->space_id != CLAP_CORE_EVENT_SPACE_ID) {
            continue;
        }
        const bool is_param = event->type == CLAP_EVENT_PARAM_VALUE || event->type == CLAP_EVENT_PARAM_MOD;
        const bool is_transport =
            event->type == CLAP_EVENT_TRANSPORT && event->size >= sizeof(clap_event_transport);
        if (!is_param && !is_transport) {
            continue; // notes, MIDI, gestures: nothing to split for
        }
        // Events at or past the end take effect after the last frame; events
        // out of order take effect where the current piece starts.
        const uint32_t at = std::clamp(event->time, piece_begin, frames);
        if (at > piece_begin) {
            run_piece(piece_begin, at);
            ran = true;
            piece_begin = at;
        }
        if (is_param) {
            apply_param_event(*event);
        } else {
            const auto& t = reinterpret_cast<const clap_event_transport&>(*event);
            transport_.playing = (t.flags & CLAP_TRANSPORT_IS_PLAYING) != 0;
            transport_.tempo.reset();
            if ((t.flags & CLAP_TRANSPORT_HAS_TEMPO) != 0) {
                transport_.tempo = t.tempo;
            }
        }
    }
    // The last piece; a block of zero frames still makes one (empty) call.
    if (piece_begin < frames || !ran) {
        run_piece(piece_begin, frames);
    }
}

const void* ClapPluginInstance::get_extension(const clap_plugin* plugin, const char* id) {
    static const clap_plugin_audio_ports_config audio_ports_config{
        &audio_ports_config_count, &audio_ports_config_get, &audio_ports_config_select};
    static const clap_plugin_audio_ports audio_ports{&audio_ports_count, &audio_ports_get};
    static const clap_plugin_gui gui{
        &gui_is_api_supported, &gui_get_preferred_api, &gui_create,      &gui_destroy,
        &gui_set_scale,        &gui_get_size,          &gui_can_resize,  &gui_get_resize_hints,
        &gui_adjust_size,      &gui_set_size,          &gui_set_parent,  &gui_set_transient,
        &gui_suggest_title,    &gui_show,              &gui_hide};
    static const clap_plugin_latency latency{&latency_get};
    static const clap_plugin_params params{&params_count,         &params_get_info,      &params_get_value,
                                           &params_value_to_text, &params_text_to_value, &params_flush};
    static const clap_plugin_remote_controls remote_controls{&remote_controls_count, &remote_controls_get};
    static const clap_plugin_render render{&render_has_hard_realtime_requirement, &render_set};
    static const clap_plugin_state state{&state_save, &state_load};
    static const clap_plugin_tail tail{&tail_get};

    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->initialized_ || id == nullptr) {
        return nullptr;
    }
    const std::string_view name(id);
    if (name == CLAP_EXT_AUDIO_PORTS_CONFIG) return &audio_ports_config;
    if (name == CLAP_EXT_AUDIO_PORTS) return &audio_ports;
    if (name == CLAP_EXT_GUI) return self->editor_ ? &gui : nullptr;
    // The editor's link to its helper runs on the host's main loop when
    // the host watches descriptors and runs timers for plug-ins.
    static const clap_plugin_posix_fd_support_ext posix_fd{&posix_fd_on_fd};
    static const clap_plugin_timer_support_ext timer{&timer_on_timer};
    if (name == ext_posix_fd_support) return self->editor_ ? &posix_fd : nullptr;
    if (name == ext_timer_support) return self->editor_ ? &timer : nullptr;
    if (name == CLAP_EXT_LATENCY) return &latency;
    if (name == CLAP_EXT_PARAMS) return &params;
    if (name == CLAP_EXT_REMOTE_CONTROLS) return &remote_controls;
    if (name == CLAP_EXT_RENDER) return &render;
    if (name == CLAP_EXT_STATE) return &state;
    if (name == CLAP_EXT_TAIL) return &tail;
    return nullptr;
}

void ClapPluginInstance::on_main_thread(const clap_plugin* plugin) {
    if (ClapPluginInstance* self = from(plugin)) {
        self->notify_editor();
    }
}

void ClapPluginInstance::request_editor_notification() noexcept {
    // Sequentially consistent throughout: a mark is either drained by a
    // callback that is already on its way or makes a new request; one that
    // was drained early may cost a callback with nothing to do, never a lost
    // notification.
    if (!editor_ || callback_requested_.load()) {
        return;
    }
    if (!pending_marked_.exchange(false)) {
        return;
    }
    callback_requested_.store(true);
    // request_callback is callable from any thread and only queues the call.
    if (host_ != nullptr && host_->request_callback != nullptr) {
        host_->request_callback(host_);
    }
}

void ClapPluginInstance::notify_editor() noexcept {
    // Cleared first: marks made from here on ask for another callback.
    callback_requested_.store(false);
    pending_marked_.store(false);
    if (!editor_) {
        return;
    }
    for (size_t i = 0; i < param_map_.size(); ++i) {
        const uint8_t marks = pending_[i].exchange(0);
        const ParamMapEntry& entry = param_map_[i];
        if (marks == 0 || entry.param == nullptr) {
            continue;
        }
        try {
            if ((marks & pending_value) != 0) {
                editor_->param_value_changed(entry.id, entry.param->unmodulated_normalized_value());
            }
            if ((marks & pending_modulation) != 0) {
                editor_->param_modulation_changed(entry.id, entry.param->modulation_offset());
            }
        } catch (...) {
            // An editor that fails to take a notification misses that one only.
        }
    }
}

// ============================================================================
// audio-ports, audio-ports-config
// ============================================================================

uint32_t ClapPluginInstance::audio_ports_count(const clap_plugin* plugin, bool /*is_input*/) {
    return from(plugin) == nullptr ? 0 : 1;
}

bool ClapPluginInstance::audio_ports_get(const clap_plugin* plugin, uint32_t index, bool is_input,
                                         clap_audio_port_info* info) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || info == nullptr || index != 0) {
        return false;
    }
    *info = clap_audio_port_info{};
    info->id = 0;
    copy_text(info->name, sizeof info->name, is_input ? self->info_.input_port_name : self->info_.output_port_name);
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = channel_count;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = 0; // input 0 and output 0 may share buffers
    return true;
}

uint32_t ClapPluginInstance::audio_ports_config_count(const clap_plugin* plugin) {
    return from(plugin) == nullptr ? 0 : 1;
}

bool ClapPluginInstance::audio_ports_config_get(const clap_plugin* plugin, uint32_t index,
                                                clap_audio_ports_config* config) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || config == nullptr || index != 0) {
        return false;
    }
    *config = clap_audio_ports_config{};
    config->id = 0;
    copy_text(config->name, sizeof config->name, self->info_.layout_name);
    config->input_port_count = 1;
    config->output_port_count = 1;
    config->has_main_input = true;
    config->main_input_channel_count = channel_count;
    config->main_input_port_type = CLAP_PORT_STEREO;
    config->has_main_output = true;
    config->main_output_channel_count = channel_count;
    config->main_output_port_type = CLAP_PORT_STEREO;
    return true;
}

bool ClapPluginInstance::audio_ports_config_select(const clap_plugin* plugin, clap_id config_id) {
    const ClapPluginInstance* self = from(plugin);
    // Only while deactivated, and only the one configuration there is.
    return self != nullptr && !self->active_ && config_id == 0;
}

// ============================================================================
// gui: embedded X11 only, offered when the plug-in has an editor. create and
// destroy bracket the host's use of the gui; set_parent opens the editor in
// the host's window and destroy closes it. The editor's size is fixed.
// ============================================================================

bool ClapPluginInstance::gui_is_api_supported(const clap_plugin* plugin, const char* api, bool is_floating) {
    const ClapPluginInstance* self = from(plugin);
    return self != nullptr && self->editor_ && !is_floating && equals(api, CLAP_WINDOW_API_X11);
}

bool ClapPluginInstance::gui_get_preferred_api(const clap_plugin* plugin, const char** api, bool* is_floating) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->editor_ || api == nullptr || is_floating == nullptr) {
        return false;
    }
    *api = CLAP_WINDOW_API_X11;
    *is_floating = false;
    return true;
}

bool ClapPluginInstance::gui_create(const clap_plugin* plugin, const char* api, bool is_floating) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->editor_ || self->gui_created_ || is_floating ||
        !equals(api, CLAP_WINDOW_API_X11)) {
        return false;
    }
    self->gui_created_ = true;
    return true;
}

void ClapPluginInstance::gui_destroy(const clap_plugin* plugin) {
    if (ClapPluginInstance* self = from(plugin)) {
        try {
            self->editor_handle_.reset();
        } catch (...) {
        }
        self->gui_created_ = false;
    }
}

bool ClapPluginInstance::gui_set_scale(const clap_plugin* plugin, double scale) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->gui_created_ || !std::isfinite(scale) || scale <= 0.0) {
        return false;
    }
    try {
        return self->editor_->set_scale_factor(static_cast<float>(scale));
    } catch (...) {
        return false;
    }
}

bool ClapPluginInstance::gui_get_size(const clap_plugin* plugin, uint32_t* width, uint32_t* height) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->gui_created_ || width == nullptr || height == nullptr) {
        return false;
    }
    try {
        const EditorSize size = self->editor_->size();
        *width = size.width;
        *height = size.height;
        return true;
    } catch (...) {
        return false;
    }
}

bool ClapPluginInstance::gui_can_resize(const clap_plugin* /*plugin*/) { return false; }

bool ClapPluginInstance::gui_get_resize_hints(const clap_plugin* /*plugin*/, clap_gui_resize_hints* /*hints*/) {
    return false;
}

bool ClapPluginInstance::gui_adjust_size(const clap_plugin* /*plugin*/, uint32_t* /*width*/, uint32_t* /*height*/) {
    return false;
}

bool ClapPluginInstance::gui_set_size(const clap_plugin* plugin, uint32_t width, uint32_t height) {
    uint32_t w = 0;
    uint32_t h = 0;
    // Fixed size: only the size it already has is accepted.
    return gui_get_size(plugin, &w, &h) && width == w && height == h;
}

bool ClapPluginInstance::gui_set_parent(const clap_plugin* plugin, const clap_window* window) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->gui_created_ || window == nullptr || !equals(window->api, CLAP_WINDOW_API_X11)) {
        return false;
    }
    try {
        // A new parent replaces the old one: close first, then open there.
        self->editor_handle_.reset();
        ParentWindow parent;
        parent.api = ParentWindow::Api::X11;
        parent.handle = window->x11;
        parent.context = self->gui_context_;
        self->editor_handle_ = self->editor_->spawn(parent);
        return self->editor_handle_ != nullptr;
    } catch (...) {
        return false;
    }
}

bool ClapPluginInstance::gui_set_transient(const clap_plugin* /*plugin*/, const clap_window* /*window*/) {
    return false; // floating windows are not offered
}

void ClapPluginInstance::gui_suggest_title(const clap_plugin* /*plugin*/, const char* /*title*/) {}

// The embedded editor is visible with its parent window; there is nothing
// more to show or hide.
bool ClapPluginInstance::gui_show(const clap_plugin* plugin) {
    const ClapPluginInstance* self = from(plugin);
    return self != nullptr && self->gui_created_;
}

bool ClapPluginInstance::gui_hide(const clap_plugin* plugin) {
    const ClapPluginInstance* self = from(plugin);
    return self != nullptr && self->gui_created_;
}

// ============================================================================
// latency, tail
// ============================================================================

uint32_t ClapPluginInstance::latency_get(const clap_plugin* /*plugin*/) { return 0; }
uint32_t ClapPluginInstance::tail_get(const clap_plugin* /*plugin*/) { return 0; }

// ============================================================================
// params
// ============================================================================

uint32_t ClapPluginInstance::params_count(const clap_plugin* plugin) {
    const ClapPluginInstance* self = from(plugin);
    return self == nullptr ? 0 : static_cast<uint32_t>(self->param_map_.size());
}

bool ClapPluginInstance::params_get_info(const clap_plugin* plugin, uint32_t param_index,
                                         clap_param_info* param_info) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || param_info == nullptr || param_index >= self->param_map_.size()) {
        return false;
    }
    const ClapParamFacts facts = clap_param_facts(self->param_map_[param_index]);
    *param_info = clap_param_info{};
    param_info->id = facts.id;
    param_info->flags = CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_MODULATABLE |
                        (facts.stepped ? CLAP_PARAM_IS_STEPPED : 0u);
    param_info->cookie = nullptr;
    copy_text(param_info->name, sizeof param_info->name, facts.name);
    copy_text(param_info->module, sizeof param_info->module, facts.module);
    param_info->min_value = facts.min_value;
    param_info->max_value = facts.max_value;
    param_info->default_value = facts.default_value;
    return true;
}

bool ClapPluginInstance::params_get_value(const clap_plugin* plugin, clap_id param_id, double* out_value) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || out_value == nullptr) {
        return false;
    }
    const Param* param = self->find_param(param_id);
    if (param == nullptr) {
        return false;
    }
    // The value the host set; its own modulation is not part of it.
    *out_value = clap_value_from_normalized(*param, param->unmodulated_normalized_value());
    return true;
}

bool ClapPluginInstance::params_value_to_text(const clap_plugin* plugin, clap_id param_id, double value,
                                              char* out_buffer, uint32_t out_buffer_capacity) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || out_buffer == nullptr || out_buffer_capacity == 0 || !std::isfinite(value)) {
        return false;
    }
    const Param* param = self->find_param(param_id);
    if (param == nullptr) {
        return false;
    }
    try {
        copy_text(out_buffer, out_buffer_capacity, clap_value_to_text(*param, value));
        return true;
    } catch (...) {
        return false;
    }
}

bool ClapPluginInstance::params_text_to_value(const clap_plugin* plugin, clap_id param_id,
                                              const char* param_value_text, double* out_value) {
    const ClapPluginInstance* self = from(plugin);
    if (self == nullptr || param_value_text == nullptr || out_value == nullptr) {
        return false;
    }
    const Param* param = self->find_param(param_id);
    if (param == nullptr) {
        return false;
    }
    try {
        const std::optional<double> value = clap_text_to_value(*param, param_value_text);
        if (!value) {
            return false;
        }
        *out_value = *value;
        return true;
    } catch (...) {
        return false;
    }
}

void ClapPluginInstance::params_flush(const clap_plugin* plugin, const clap_input_events* in,
                                      const clap_output_events* out) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->initialized_) {
        return;
    }
    self->emit_gestures(out);
    if (in == nullptr || in->size == nullptr || in->get == nullptr) {
        return;
    }
    // Without audio there is nothing to split: every change applies at once.
    const uint32_t count = in->size(in);
    for (uint32_t i = 0; i < count; ++i) {
        if (const clap_event_header* event = in->get(in, i)) {
            self->apply_param_event(*event);
        }
    }
    self->request_editor_notification();
}

// ============================================================================
// remote-controls, render
// ============================================================================

uint32_t ClapPluginInstance::remote_controls_count(const clap_plugin* /*plugin*/) { return 0; }

bool ClapPluginInstance::remote_controls_get(const clap_plugin* /*plugin*/, uint32_t /*page_index*/,
                                             clap_remote_controls_page* /*page*/) {
    return false;
}

bool ClapPluginInstance::render_has_hard_realtime_requirement(const clap_plugin* /*plugin*/) { return false; }

bool ClapPluginInstance::render_set(const clap_plugin* plugin, clap_plugin_render_mode mode) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || (mode != CLAP_RENDER_REALTIME && mode != CLAP_RENDER_OFFLINE)) {
        return false;
    }
    // Noted for the next activation; processing is the same in both modes.
    self->process_mode_ = mode == CLAP_RENDER_OFFLINE ? ProcessMode::Offline : ProcessMode::Realtime;
    return true;
}

// ============================================================================
// state
// ============================================================================

bool ClapPluginInstance::state_save(const clap_plugin* plugin, const clap_ostream* stream) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->params_ || stream == nullptr || stream->write == nullptr) {
        return false;
    }
    try {
        const std::string text = write_state_json(*self->params_, self->info_.version);
        auto write = [stream](const void* data, uint64_t size) { return stream->write(stream, data, size); };
        return write_framed(write, text);
    } catch (...) {
        return false;
    }
}

bool ClapPluginInstance::state_load(const clap_plugin* plugin, const clap_istream* stream) {
    ClapPluginInstance* self = from(plugin);
    if (self == nullptr || !self->params_ || stream == nullptr || stream->read == nullptr) {
        return false;
    }
    try {
        auto read = [stream](void* data, uint64_t size) { return stream->read(stream, data, size); };
        const std::optional<std::string> text = read_framed(read);
        if (!text) {
            return false;
        }
        const StateParseResult parsed = parse_state_json(*text);
        if (!parsed.state) {
            return false;
        }
        {
            std::lock_guard lock(self->instance_mutex_);
            apply_state(*self->params_, *parsed.state);
            self->reinitialize_after_load();
        }
        // Main thread, and after the lock: the editor may format and queue
        // texts for every parameter.
        if (self->editor_) {
            try {
                self->editor_->param_values_changed();
            } catch (...) {
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

void ClapPluginInstance::reinitialize_after_load() {
    // Once a sample rate is known (activated at least once, even if
    // deactivated since) the instance is prepared again for the new values.
    if (!sample_rate_) {
        return;
    }
    const AudioIOLayout layout{channel_count, channel_count};
    plugin_->initialize(layout, buffer_config());
    const ScopedFlushDenormals ftz;
    plugin_->reset();
}

} // namespace plugin_kit
