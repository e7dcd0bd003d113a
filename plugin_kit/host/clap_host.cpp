#include "plugin_kit/host/clap_host.hpp"

#include <algorithm>
#include <cstring>

namespace plugin_kit::host {

using namespace clap_abi;

namespace {

// Ports of one direction as the plug-in declares them: channel counts, main first.
std::vector<uint32_t> port_channels(const clap_plugin* plugin, const clap_plugin_audio_ports* ports, bool is_input) {
    if (ports == nullptr) {
        return {2}; // a plug-in without the extension gets one stereo port
    }
    std::vector<uint32_t> channels;
    const uint32_t count = ports->count(plugin, is_input);
    for (uint32_t i = 0; i < count; ++i) {
        clap_audio_port_info info{};
        channels.push_back(ports->get(plugin, i, is_input, &info) ? info.channel_count : 0u);
    }
    return channels;
}

} // namespace

// ============================================================================
// Library
// ============================================================================

std::shared_ptr<ClapLibrary> ClapLibrary::open(const std::string& path, std::string& error) {
    auto library = SharedLibrary::open(path, error);
    if (!library) {
        return nullptr;
    }
    const auto* entry = static_cast<const clap_plugin_entry*>(library->symbol("clap_entry"));
    if (entry == nullptr) {
        error = path + " has no clap_entry: not a CLAP plug-in";
        return nullptr;
    }
    if (!clap_version_is_compatible(entry->clap_version) || entry->init == nullptr || entry->deinit == nullptr ||
        entry->get_factory == nullptr) {
        error = path + ": unsupported CLAP version or incomplete entry";
        return nullptr;
    }
    if (!entry->init(path.c_str())) {
        error = path + ": the plug-in's init refused to start";
        return nullptr;
    }
    return std::shared_ptr<ClapLibrary>(new ClapLibrary(std::move(library), entry));
}

ClapLibrary::~ClapLibrary() { entry_->deinit(); }

const clap_plugin_factory* ClapLibrary::factory() const noexcept {
    return static_cast<const clap_plugin_factory*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
}

std::vector<const clap_plugin_descriptor*> ClapLibrary::descriptors() const {
    std::vector<const clap_plugin_descriptor*> out;
    const clap_plugin_factory* f = factory();
    if (f == nullptr) {
        return out;
    }
    const uint32_t count = f->get_plugin_count(f);
    for (uint32_t i = 0; i < count; ++i) {
        if (const clap_plugin_descriptor* d = f->get_plugin_descriptor(f, i)) {
            out.push_back(d);
        }
    }
    return out;
}

// ============================================================================
// Instance
// ============================================================================

struct ClapHostedPlugin::Impl {
    // Host record handed to the plug-in; it offers no host extensions.
    clap_host host{};

    // Parameter changes waiting for the next block (or the next flush).
    std::vector<clap_event_param_value> pending;
    clap_input_events in_events{};
    clap_output_events out_events{};

    const clap_plugin_audio_ports* audio_ports = nullptr;
    const clap_plugin_params* params = nullptr;
    const clap_plugin_state* state = nullptr;

    bool active = false;
    bool processing = false;
    int64_t steady_time = 0;

    // Channel layout and silent scratch buffers for every port but the main ones.
    std::vector<uint32_t> in_channels, out_channels;
    std::vector<std::vector<float>> scratch;
    std::vector<std::vector<float*>> in_pointers, out_pointers;
    std::vector<clap_audio_buffer> in_buffers, out_buffers;

    Impl() {
        host.clap_version = CLAP_VERSION_1_2_2;
        host.host_data = this;
        host.name = "plugin_kit host";
        host.vendor = "Corvalune";
        host.url = "";
        host.version = "0.1.0";
        host.get_extension = [](const clap_host*, const char*) -> const void* { return nullptr; };
        host.request_restart = [](const clap_host*) {};
        host.request_process = [](const clap_host*) {};
        host.request_callback = [](const clap_host*) {};

        in_events.ctx = this;
        in_events.size = [](const clap_input_events* list) {
            return static_cast<uint32_t>(static_cast<const Impl*>(list->ctx)->pending.size());
        };
        in_events.get = [](const clap_input_events* list, uint32_t index) -> const clap_event_header* {
            const auto* self = static_cast<const Impl*>(list->ctx);
            return index < self->pending.size() ? &self->pending[index].header : nullptr;
        };
        // Output events (meters, gestures) are accepted and dropped.
        out_events.ctx = this;
        out_events.try_push = [](const clap_output_events*, const clap_event_header*) { return true; };
    }
};

ClapHostedPlugin::ClapHostedPlugin(std::shared_ptr<ClapLibrary> library)
    : library_(std::move(library)), impl_(std::make_unique<Impl>()) {}

std::unique_ptr<ClapHostedPlugin> ClapHostedPlugin::create(std::shared_ptr<ClapLibrary> library,
                                                           std::string_view plugin_id, std::string& error) {
    const clap_plugin_factory* factory = library->factory();
    if (factory == nullptr) {
        error = "the CLAP library offers no plug-in factory";
        return nullptr;
    }
    std::string id(plugin_id);
    if (id.empty()) {
        const auto descriptors = library->descriptors();
        if (descriptors.empty() || descriptors.front()->id == nullptr) {
            error = "the CLAP library lists no plug-in";
            return nullptr;
        }
        id = descriptors.front()->id;
    }
    std::unique_ptr<ClapHostedPlugin> hosted(new ClapHostedPlugin(std::move(library)));
    hosted->plugin_ = factory->create_plugin(factory, &hosted->impl_->host, id.c_str());
    if (hosted->plugin_ == nullptr) {
        error = "the CLAP factory did not create '" + id + "'";
        return nullptr;
    }
    if (!hosted->plugin_->init(hosted->plugin_)) {
        error = "the CLAP plug-in '" + id + "' failed to initialise";
        return nullptr; // the destructor destroys the plug-in
    }
    Impl& impl = *hosted->impl_;
    impl.audio_ports = static_cast<const clap_plugin_audio_ports*>(hosted->extension(CLAP_EXT_AUDIO_PORTS));
    impl.params = static_cast<const clap_plugin_params*>(hosted->extension(CLAP_EXT_PARAMS));
    impl.state = static_cast<const clap_plugin_state*>(hosted->extension(CLAP_EXT_STATE));
    return hosted;
}

ClapHostedPlugin::~ClapHostedPlugin() {
    if (plugin_ != nullptr) {
        deactivate();
        plugin_->destroy(plugin_);
    }
}

const void* ClapHostedPlugin::extension(const char* id) const noexcept {
    return plugin_->get_extension(plugin_, id);
}

std::vector<HostParamInfo> ClapHostedPlugin::params() const {
    std::vector<HostParamInfo> out;
    const clap_plugin_params* params = impl_->params;
    if (params == nullptr) {
        return out;
    }
    const uint32_t count = params->count(plugin_);
    for (uint32_t i = 0; i < count; ++i) {
        clap_param_info info{};
        if (!params->get_info(plugin_, i, &info)) {
            continue;
        }
        HostParamInfo p;
        p.id = info.id;
        p.name = std::string(info.name, strnlen(info.name, sizeof info.name));
        p.module = std::string(info.module, strnlen(info.module, sizeof info.module));
        p.min = info.min_value;
        p.max = info.max_value;
        p.default_value = info.default_value;
        if ((info.flags & CLAP_PARAM_IS_STEPPED) != 0 && info.max_value > info.min_value) {
            p.step_count = static_cast<uint32_t>(info.max_value - info.min_value);
        }
        p.automatable = (info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0;
        p.read_only = (info.flags & CLAP_PARAM_IS_READONLY) != 0;
        p.hidden = (info.flags & CLAP_PARAM_IS_HIDDEN) != 0;
        p.is_bypass = (info.flags & CLAP_PARAM_IS_BYPASS) != 0;
        out.push_back(std::move(p));
    }
    return out;
}

std::optional<double> ClapHostedPlugin::param_value(uint32_t id) const {
    double value = 0.0;
    if (impl_->params == nullptr || !impl_->params->get_value(plugin_, id, &value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> ClapHostedPlugin::value_to_text(uint32_t id, double value) const {
    char text[CLAP_NAME_SIZE] = {};
    if (impl_->params == nullptr || !impl_->params->value_to_text(plugin_, id, value, text, sizeof text)) {
        return std::nullopt;
    }
    return std::string(text, strnlen(text, sizeof text));
}

std::optional<double> ClapHostedPlugin::text_to_value(uint32_t id, std::string_view text) const {
    const std::string zero_terminated(text);
    double value = 0.0;
    if (impl_->params == nullptr || !impl_->params->text_to_value(plugin_, id, zero_terminated.c_str(), &value)) {
        return std::nullopt;
    }
    return value;
}

bool ClapHostedPlugin::set_param(uint32_t id, double value) {
    if (impl_->params == nullptr) {
        return false;
    }
    clap_event_param_value event{};
    event.header = clap_event_header{sizeof(clap_event_param_value), 0, CLAP_CORE_EVENT_SPACE_ID,
                                     CLAP_EVENT_PARAM_VALUE, 0};
    event.param_id = id;
    event.cookie = nullptr;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = value;
    // Replace an earlier change of the same parameter still waiting.
    auto& pending = impl_->pending;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [id](const clap_event_param_value& e) { return e.param_id == id; }),
                  pending.end());
    pending.push_back(event);
    if (!impl_->processing) {
        // Not processing: the plug-in takes the change through flush now; the
        // copy kept for the next block changes nothing more.
        impl_->params->flush(plugin_, &impl_->in_events, &impl_->out_events);
    }
    return true;
}

bool ClapHostedPlugin::set_param_at(uint32_t id, double value, uint32_t offset) {
    if (!impl_->processing || impl_->params == nullptr) {
        return set_param(id, value);
    }
    clap_event_param_value event{};
    event.header = clap_event_header{sizeof(clap_event_param_value), offset, CLAP_CORE_EVENT_SPACE_ID,
                                     CLAP_EVENT_PARAM_VALUE, 0};
    event.param_id = id;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = value;
    // The input list must be sorted by time: insert after every event at or
    // before `offset`, replacing a change of the same parameter at the same time.
    auto& pending = impl_->pending;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [&](const clap_event_param_value& e) {
                                     return e.param_id == id && e.header.time == offset;
                                 }),
                  pending.end());
    const auto at = std::upper_bound(pending.begin(), pending.end(), offset,
                                     [](uint32_t t, const clap_event_param_value& e) { return t < e.header.time; });
    pending.insert(at, event);
    return true;
}

bool ClapHostedPlugin::activate(double sample_rate, uint32_t max_frames) {
    Impl& impl = *impl_;
    if (impl.active) {
        return true;
    }
    impl.in_channels = port_channels(plugin_, impl.audio_ports, true);
    impl.out_channels = port_channels(plugin_, impl.audio_ports, false);
    impl.scratch.clear();
    const auto build = [&](const std::vector<uint32_t>& channels, std::vector<std::vector<float*>>& pointers,
                           std::vector<clap_audio_buffer>& buffers) {
        pointers.assign(channels.size(), {});
        buffers.assign(channels.size(), clap_audio_buffer{});
        for (size_t port = 0; port < channels.size(); ++port) {
            for (uint32_t c = 0; c < channels[port]; ++c) {
                if (port == 0 && c < 2) {
                    pointers[port].push_back(nullptr); // the caller's buffers, per block
                } else {
                    impl.scratch.emplace_back(max_frames, 0.0f);
                    pointers[port].push_back(impl.scratch.back().data());
                }
            }
        }
    };
    build(impl.in_channels, impl.in_pointers, impl.in_buffers);
    build(impl.out_channels, impl.out_pointers, impl.out_buffers);

    if (!plugin_->activate(plugin_, sample_rate, 1, max_frames)) {
        return false;
    }
    impl.active = true;
    if (!plugin_->start_processing(plugin_)) {
        plugin_->deactivate(plugin_);
        impl.active = false;
        return false;
    }
    impl.processing = true;
    return true;
}

bool ClapHostedPlugin::process(std::span<float* const> inputs, std::span<float* const> outputs, uint32_t frames,
                               const HostTransport& transport) {
    Impl& impl = *impl_;
    if (!impl.processing || inputs.size() < 2 || outputs.size() < 2) {
        return false;
    }
    const auto fill = [&](std::vector<std::vector<float*>>& pointers, std::vector<clap_audio_buffer>& buffers,
                          std::span<float* const> main) {
        for (size_t port = 0; port < pointers.size(); ++port) {
            for (size_t c = 0; c < pointers[port].size(); ++c) {
                if (port == 0 && c < 2) {
                    pointers[port][c] = main[c];
                } else {
                    std::fill_n(pointers[port][c], frames, 0.0f); // silent side inputs, scratch outputs
                }
            }
            buffers[port] = clap_audio_buffer{pointers[port].data(), nullptr,
                                              static_cast<uint32_t>(pointers[port].size()), 0, 0};
        }
    };
    fill(impl.in_pointers, impl.in_buffers, inputs);
    fill(impl.out_pointers, impl.out_buffers, outputs);

    clap_event_transport clap_transport{};
    clap_transport.header = clap_event_header{sizeof(clap_event_transport), 0, CLAP_CORE_EVENT_SPACE_ID,
                                              CLAP_EVENT_TRANSPORT, 0};
    clap_transport.flags = transport.playing ? CLAP_TRANSPORT_IS_PLAYING : 0u;
    if (transport.tempo) {
        clap_transport.flags |= CLAP_TRANSPORT_HAS_TEMPO;
        clap_transport.tempo = *transport.tempo;
    }

    clap_process p{};
    p.steady_time = impl.steady_time;
    p.frames_count = frames;
    p.transport = &clap_transport;
    p.audio_inputs = impl.in_buffers.data();
    p.audio_outputs = impl.out_buffers.data();
    p.audio_inputs_count = static_cast<uint32_t>(impl.in_buffers.size());
    p.audio_outputs_count = static_cast<uint32_t>(impl.out_buffers.size());
    p.in_events = &impl.in_events;
    p.out_events = &impl.out_events;
    const clap_process_status status = plugin_->process(plugin_, &p);
    impl.pending.clear();
    impl.steady_time += frames;
    return status != CLAP_PROCESS_ERROR;
}

void ClapHostedPlugin::deactivate() {
    Impl& impl = *impl_;
    if (impl.processing) {
        plugin_->stop_processing(plugin_);
        impl.processing = false;
    }
    if (impl.active) {
        plugin_->deactivate(plugin_);
        impl.active = false;
    }
}

std::optional<std::string> ClapHostedPlugin::save_state(StreamPieces pieces) {
    if (impl_->state == nullptr) {
        return std::nullopt;
    }
    struct Sink {
        std::string bytes;
        uint64_t piece;
    } sink{{}, pieces.write};
    clap_ostream stream{&sink, [](const clap_ostream* s, const void* data, uint64_t size) -> int64_t {
                            auto* out = static_cast<Sink*>(s->ctx);
                            const uint64_t n = out->piece == 0 ? size : std::min(size, out->piece);
                            out->bytes.append(static_cast<const char*>(data), static_cast<size_t>(n));
                            return static_cast<int64_t>(n);
                        }};
    if (!impl_->state->save(plugin_, &stream)) {
        return std::nullopt;
    }
    return std::move(sink.bytes);
}

bool ClapHostedPlugin::load_state(std::string_view bytes, StreamPieces pieces) {
    if (impl_->state == nullptr) {
        return false;
    }
    struct Source {
        std::string_view bytes;
        uint64_t piece;
        size_t pos;
    } source{bytes, pieces.read, 0};
    clap_istream stream{&source, [](const clap_istream* s, void* data, uint64_t size) -> int64_t {
                            auto* in = static_cast<Source*>(s->ctx);
                            uint64_t n = std::min<uint64_t>(size, in->bytes.size() - in->pos);
                            if (in->piece != 0) {
                                n = std::min(n, in->piece);
                            }
                            std::memcpy(data, in->bytes.data() + in->pos, static_cast<size_t>(n));
                            in->pos += static_cast<size_t>(n);
                            return static_cast<int64_t>(n);
                        }};
    return impl_->state->load(plugin_, &stream);
}

} // namespace plugin_kit::host
