#include "webview/editor/page_link.hpp"

#include "plugin_kit/log/log.hpp"
#include "plugin_kit/params/param.hpp"
#include "plugin_kit/params/params.hpp"
#include "webview/bridge/param_message.hpp"
#include "webview/state/web_view_state.hpp"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace webview {
namespace {

// Name of the helper program, beside the plug-in library.
constexpr std::string_view helper_name = "tessellgrove-editor";
// Period of the link's own drain of the script queue, in milliseconds; the
// page polls at the same rate once it is ready.
constexpr int drain_period_ms = 50;
// How long a closing editor waits for the helper to end before killing it.
constexpr auto helper_exit_grace = std::chrono::milliseconds(1000);
// Longest part of a dropped message quoted in its log line.
constexpr std::size_t quoted_message_bytes = 80;

// Sends all of `bytes` on `fd` without raising SIGPIPE; false when the peer is gone.
bool send_all(int fd, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void close_fd(int& fd) noexcept {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

std::optional<std::string> find_editor_helper() {
    Dl_info info{};
    // Any function of this library names the file it was loaded from.
    if (::dladdr(reinterpret_cast<void*>(&find_editor_helper), &info) == 0 || info.dli_fname == nullptr) {
        return std::nullopt;
    }
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    path = (slash == std::string::npos) ? std::string() : path.substr(0, slash + 1);
    path.append(helper_name);
    if (::access(path.c_str(), X_OK) != 0) {
        return std::nullopt;
    }
    return path;
}

std::string set_all_params_statement(plugin_kit::Params& params) {
    std::string list = "[";
    bool first = true;
    for (const plugin_kit::ParamMapEntry& entry : params.param_map()) {
        if (entry.param == nullptr) {
            continue;
        }
        const float value = entry.param->unmodulated_normalized_value();
        if (!first) {
            list.push_back(',');
        }
        first = false;
        list.append("{\"name\":").append(nlohmann::json(std::string(entry.id)).dump());
        list.append(",\"value\":").append(format_script_number(value));
        list.append(",\"default\":").append(format_script_number(entry.param->default_normalized_value()));
        list.append(",\"min\":0,\"max\":1,\"display\":");
        list.append(nlohmann::json(entry.param->normalized_value_to_string(value, true))
                        .dump(-1, ' ', true, nlohmann::json::error_handler_t::replace));
        list.push_back('}');
    }
    list.push_back(']');
    return "if (window._setAllParams) window._setAllParams(" + list + ");";
}

std::string set_current_preset_name_statement(std::string_view name) {
    return "if (window._setCurrentPresetName) window._setCurrentPresetName('" + escape_script_string(name) + "');";
}

struct PageLink::Impl {
    PageLinkConfig config;
    std::string page;
    std::shared_ptr<WebViewState> state;
    std::shared_ptr<plugin_kit::Params> params;
    std::shared_ptr<plugin_kit::GuiContext> context;
    JsMessageSender sender;

    pid_t pid = -1;
    int socket = -1;                 // our end of the link
    int wake_read = -1, wake_write = -1; // wakes the I/O thread for closing
    std::atomic<bool> stop{false};
    std::atomic<bool> alive{true};
    bool on_main = false;            // served by the host's main loop instead of `thread`
    bool watched = false;            // on_main: the host still watches `socket`
    std::string out;                 // on_main: bytes not yet taken by the socket
    bool loaded = false;             // I/O thread: the page reported its load
    std::string input;               // I/O thread: bytes after the last full line
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::thread thread;

    Impl(PageLinkConfig config_in, std::string page_in, std::shared_ptr<WebViewState> state_in,
         std::shared_ptr<plugin_kit::Params> params_in, std::shared_ptr<plugin_kit::GuiContext> context_in)
        : config(std::move(config_in)), page(std::move(page_in)), state(std::move(state_in)),
          params(std::move(params_in)), context(std::move(context_in)), sender(state->js_message_sender()) {}

    bool spawn_helper();
    void run() noexcept;
    // Sends `bytes`: at once from the I/O thread, through `out` on the main loop.
    bool write_bytes(std::string_view bytes) noexcept;
    // on_main: hands as much of `out` to the socket as it takes without waiting.
    bool flush_out() noexcept;
    // Takes bytes from the helper and serves every complete line.
    bool consume(const char* data, std::size_t size) noexcept;
    // on_main: the socket is readable / the period passed.
    void service_readable() noexcept;
    void service_tick() noexcept;
    void ended() noexcept;
    bool send_statement(std::string statement) noexcept;
    bool drain_scripts() noexcept;
    bool handle_line(std::string_view line) noexcept;
    bool handle_message(ParamMessage message);
    void reap() noexcept;
};

bool PageLink::Impl::spawn_helper() {
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return false;
    }
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(pair[0]);
        ::close(pair[1]);
        return false;
    }
    const std::string parent_text = fmt::format("{:#x}", config.parent);
    const std::string width_text = std::to_string(config.width);
    const std::string height_text = std::to_string(config.height);
    std::vector<char*> argv{const_cast<char*>(config.helper_path.c_str()), const_cast<char*>("--parent"),
                            const_cast<char*>(parent_text.c_str()),        const_cast<char*>("--width"),
                            const_cast<char*>(width_text.c_str()),         const_cast<char*>("--height"),
                            const_cast<char*>(height_text.c_str()),        nullptr};

    // The helper gets the link as its standard input and output and nothing
    // else of the host's: every other descriptor is closed, signals are at
    // their defaults and none is blocked.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal_number : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) {
        sigaddset(&defaults, signal_number);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    const int result = ::posix_spawn(&pid, config.helper_path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    if (result != 0) {
        pid = -1;
        ::close(pair[0]);
        ::close(wake[0]);
        ::close(wake[1]);
        return false;
    }
    socket = pair[0];
    wake_read = wake[0];
    wake_write = wake[1];
    return true;
}

bool PageLink::Impl::send_statement(std::string statement) noexcept {
    // One statement per line: a line break inside one would split it. The
    // statements are built with their strings escaped, so this never
    // changes a well-formed one.
    for (char& c : statement) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    statement.push_back('\n');
    return write_bytes(statement);
}

bool PageLink::Impl::write_bytes(std::string_view bytes) noexcept {
    if (!on_main) {
        return send_all(socket, bytes);
    }
    try {
        out.append(bytes);
    } catch (...) {
        return false;
    }
    return flush_out();
}

bool PageLink::Impl::flush_out() noexcept {
    while (!out.empty()) {
        const ssize_t n = ::send(socket, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true; // the rest goes with a later tick
        }
        if (n <= 0) {
            return false;
        }
        out.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

bool PageLink::Impl::consume(const char* data, std::size_t size) noexcept {
    try {
        input.append(data, size);
    } catch (...) {
        return false;
    }
    bool ok = true;
    std::size_t start = 0;
    for (std::size_t end = input.find('\n'); ok && end != std::string::npos; end = input.find('\n', start)) {
        ok = handle_line(std::string_view(input).substr(start, end - start));
        start = end + 1;
    }
    input.erase(0, start);
    return ok;
}

void PageLink::Impl::ended() noexcept {
    if (alive.exchange(false)) {
        plugin_kit::log_info("WebView editor: tessellgrove-editor (pid {}) ended", pid);
    }
}

void PageLink::Impl::service_readable() noexcept {
    if (!alive.load()) {
        return;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (n <= 0 || !consume(buffer, static_cast<std::size_t>(n))) {
            ended();
            return;
        }
    }
}

void PageLink::Impl::service_tick() noexcept {
    if (!alive.load()) {
        // A helper that ended leaves its end of the socket readable for
        // good: stop watching it.
        if (watched) {
            watched = false;
            context->unwatch();
        }
        return;
    }
    if (!flush_out() || (loaded && !drain_scripts())) {
        ended();
    }
}

bool PageLink::Impl::drain_scripts() noexcept {
    while (std::optional<std::string> statement = state->try_recv_script()) {
        if (!send_statement(std::move(*statement))) {
            return false;
        }
    }
    return true;
}

bool PageLink::Impl::handle_message(ParamMessage message) {
    return std::visit(
        [&](auto& kind) -> bool {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, ParamMessage::PollMessages>) {
                return drain_scripts();
            } else if constexpr (std::is_same_v<Kind, ParamMessage::RequestParams>) {
                return params ? send_statement(set_all_params_statement(*params)) : true;
            } else if constexpr (std::is_same_v<Kind, ParamMessage::SetParam>) {
                if (context) {
                    context->set_value(kind.name, kind.value);
                }
                return true;
            } else if constexpr (std::is_same_v<Kind, ParamMessage::BeginEdit>) {
                if (context) {
                    context->begin_edit(kind.name);
                }
                return true;
            } else if constexpr (std::is_same_v<Kind, ParamMessage::EndEdit>) {
                if (context) {
                    context->end_edit(kind.name);
                }
                return true;
            } else {
                // Preset requests, transport requests and the page's own
                // actions are served by the audio callback's dispatcher.
                if (!sender.send(std::move(message))) {
                    plugin_kit::log_info("WebView editor: page-message queue full, message dropped");
                }
                return true;
            }
        },
        message.kind);
}

bool PageLink::Impl::handle_line(std::string_view line) noexcept {
    try {
        if (line == "@loaded") {
            loaded = true;
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            plugin_kit::log_info("WebView editor: page loaded in tessellgrove-editor (pid {}) after {} ms", pid,
                                 elapsed.count());
            return send_statement("if (window._ipcReady) window._ipcReady();") &&
                   send_statement(set_current_preset_name_statement(state->current_preset_name())) &&
                   drain_scripts();
        }
        std::optional<ParamMessage> message = parse_param_message(line);
        if (!message) {
            plugin_kit::log_info("WebView editor: dropped a page message that is not valid JSON or has an "
                                 "unknown type: {}",
                                 line.substr(0, quoted_message_bytes));
            return true;
        }
        return handle_message(std::move(*message));
    } catch (...) {
        // Out of memory while formatting an answer: that answer is lost.
        return true;
    }
}

void PageLink::Impl::run() noexcept {
    ::pthread_setname_np(::pthread_self(), "editor-link");
    const std::string header = "page " + std::to_string(page.size()) + "\n";
    bool ok = send_all(socket, header) && send_all(socket, page);
    std::string().swap(page);
    char buffer[16384];
    while (ok && !stop.load()) {
        pollfd fds[2] = {{socket, POLLIN, 0}, {wake_read, POLLIN, 0}};
        const int ready = ::poll(fds, 2, drain_period_ms);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (stop.load()) {
            break;
        }
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            ok = consume(buffer, static_cast<std::size_t>(n));
        } else if (ready == 0 && loaded) {
            ok = drain_scripts();
        }
    }
    if (!stop.load()) {
        ended();
    }
    alive.store(false);
}

void PageLink::Impl::reap() noexcept {
    if (pid <= 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + helper_exit_grace;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            break; // ended, or already reaped by a host that reaps every child
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid = -1;
}

PageLink::PageLink(std::unique_ptr<Impl> impl) noexcept : impl_(std::move(impl)) {}

std::unique_ptr<PageLink> PageLink::start(const PageLinkConfig& config, std::string page,
                                          std::shared_ptr<WebViewState> state,
                                          std::shared_ptr<plugin_kit::Params> params,
                                          std::shared_ptr<plugin_kit::GuiContext> context) {
    if (!state || config.parent == 0) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(config, std::move(page), std::move(state), std::move(params),
                                       std::move(context));
    if (!impl->spawn_helper()) {
        return nullptr;
    }
    Impl* raw = impl.get();
    // Served from the host's main loop where the format offers one; from a
    // thread of the link's own otherwise.
    try {
        if (raw->context &&
            raw->context->watch(raw->socket, static_cast<uint32_t>(drain_period_ms),
                                [raw] { raw->service_readable(); }, [raw] { raw->service_tick(); })) {
            raw->on_main = true;
            raw->watched = true;
            ::fcntl(raw->socket, F_SETFL, ::fcntl(raw->socket, F_GETFL) | O_NONBLOCK);
            const std::string header = "page " + std::to_string(raw->page.size()) + "\n";
            raw->out = header;
            raw->out.append(raw->page);
            std::string().swap(raw->page);
            if (!raw->flush_out()) {
                raw->ended();
            }
            return std::unique_ptr<PageLink>(new PageLink(std::move(impl)));
        }
    } catch (...) {
        if (raw->watched) {
            raw->context->unwatch();
        }
        ::kill(impl->pid, SIGKILL);
        impl->reap();
        close_fd(impl->socket);
        close_fd(impl->wake_read);
        close_fd(impl->wake_write);
        return nullptr;
    }
    try {
        impl->thread = std::thread([raw] { raw->run(); });
    } catch (...) {
        ::kill(impl->pid, SIGKILL);
        impl->reap();
        close_fd(impl->socket);
        close_fd(impl->wake_read);
        close_fd(impl->wake_write);
        return nullptr;
    }
    return std::unique_ptr<PageLink>(new PageLink(std::move(impl)));
}

PageLink::~PageLink() {
    Impl& impl = *impl_;
    if (impl.watched) {
        impl.watched = false;
        impl.context->unwatch();
    }
    impl.stop.store(true);
    const char byte = 0;
    [[maybe_unused]] const ssize_t woke = ::write(impl.wake_write, &byte, 1);
    // Ends a send blocked on a stalled helper and gives the helper its end of input.
    ::shutdown(impl.socket, SHUT_RDWR);
    if (impl.thread.joinable()) {
        impl.thread.join();
    }
    close_fd(impl.socket);
    close_fd(impl.wake_read);
    close_fd(impl.wake_write);
    impl.reap();
}

int PageLink::pid() const noexcept { return impl_->pid; }

bool PageLink::running() const noexcept { return impl_->alive.load(); }

bool PageLink::on_host_main_loop() const noexcept { return impl_->on_main; }

} // namespace webview
