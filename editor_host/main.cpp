// tessellgrove-editor: shows the editor page inside a host's X11 window.
//
// The plug-in library never links GTK or WebKit: a GTK 3 web view loaded
// into a host that uses GTK 2 aborts the host, and GTK's main loop belongs to
// whoever runs it. So the plug-in starts this program and talks to it over
// its standard input and output (one socket):
//
//   plug-in -> helper: "page <bytes>\n", then exactly <bytes> of page text;
//                      after that one script statement per line, evaluated
//                      in the page in the order received.
//   helper -> plug-in: "@loaded\n" once the page finished loading; then each
//                      text the page posts through window.ipc.postMessage,
//                      one per line (line breaks inside become blanks).
//
// Usage: tessellgrove-editor --parent <X11 window id> [--width W --height H]
//
// The top-level GTK window is realised, reparented into the parent window
// and only then shown. X errors are logged, never fatal. The program ends
// when its input closes, when the parent window goes away or when the X
// connection breaks.

#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <X11/Xlib.h>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Script run at document start in every frame: the page's posting channel.
constexpr const char* ipc_script =
    "window.ipc = { postMessage: function (text) {"
    " window.webkit.messageHandlers.ipc.postMessage(String(text)); } };";

// How often the parent window is checked, in milliseconds.
constexpr guint parent_check_ms = 250;

struct App {
    Window parent = 0;
    int width = 900;
    int height = 600;
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    Display* display = nullptr;
    std::string input;          // bytes read from the plug-in, not yet used
    std::size_t page_bytes = 0; // length of the page still being received
    bool page_done = false;
    bool header_done = false;
};

App app;

void log_line(const char* text) { std::fprintf(stderr, "tessellgrove-editor: %s\n", text); }

// Writes one line to the plug-in; a broken link ends the program.
void send_line(std::string line) {
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    line.push_back('\n');
    const char* at = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = write(STDOUT_FILENO, at, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            gtk_main_quit();
            return;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
}

// X errors (a BadWindow after the host destroyed its window, typically) are
// reported and survived; the parent check below ends the program when the
// parent is gone.
int on_x_error(Display* display, XErrorEvent* event) {
    char text[256] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "tessellgrove-editor: X error: %s (request %u)\n", text,
                 static_cast<unsigned>(event->request_code));
    return 0;
}

// The X connection is gone: nothing left to show.
int on_x_io_error(Display* /*display*/) { std::_Exit(0); }

void on_script_message(WebKitUserContentManager* /*manager*/, WebKitJavascriptResult* result, gpointer /*data*/) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_string(value)) {
        return;
    }
    gchar* text = jsc_value_to_string(value);
    send_line(text);
    g_free(text);
}

void on_load_changed(WebKitWebView* /*view*/, WebKitLoadEvent event, gpointer /*data*/) {
    if (event == WEBKIT_LOAD_FINISHED) {
        send_line("@loaded");
    }
}

// A crashed web process leaves an empty box: end, so the plug-in sees it.
gboolean on_web_process_terminated(WebKitWebView* /*view*/, WebKitWebProcessTerminationReason /*reason*/,
                                   gpointer /*data*/) {
    log_line("web process ended");
    gtk_main_quit();
    return TRUE;
}

void evaluate(const std::string& statement) {
    if (statement.empty()) {
        return;
    }
    webkit_web_view_evaluate_javascript(app.view, statement.data(), static_cast<gssize>(statement.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

// Consumes what arrived from the plug-in: the page first, then statements.
void take_input() {
    if (!app.header_done) {
        const std::size_t end = app.input.find('\n');
        if (end == std::string::npos) {
            return;
        }
        const std::string header = app.input.substr(0, end);
        app.input.erase(0, end + 1);
        if (header.rfind("page ", 0) != 0) {
            log_line("expected the page first");
            gtk_main_quit();
            return;
        }
        app.page_bytes = std::strtoull(header.c_str() + 5, nullptr, 10);
        app.header_done = true;
    }
    if (!app.page_done) {
        if (app.input.size() < app.page_bytes) {
            return;
        }
        const std::string page = app.input.substr(0, app.page_bytes);
        app.input.erase(0, app.page_bytes);
        app.page_done = true;
        webkit_web_view_load_html(app.view, page.c_str(), "about:blank");
    }
    std::size_t start = 0;
    for (std::size_t end = app.input.find('\n', start); end != std::string::npos;
         end = app.input.find('\n', start)) {
        evaluate(app.input.substr(start, end - start));
        start = end + 1;
    }
    app.input.erase(0, start);
}

gboolean on_input(gint fd, GIOCondition /*condition*/, gpointer /*data*/) {
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return G_SOURCE_CONTINUE;
    }
    if (n <= 0) {
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }
    app.input.append(buffer, static_cast<std::size_t>(n));
    take_input();
    return G_SOURCE_CONTINUE;
}

gboolean check_parent(gpointer /*data*/) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(app.display, app.parent, &attributes) == 0) {
        log_line("parent window gone");
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

// Keyboard focus follows a click: the host's window manager knows nothing
// of this embedded window, so the page's text fields would get no keys.
// The focus moves after the button is released: a focus change between
// press and release would cost the page its click.
gboolean on_button_release(GtkWidget* /*widget*/, GdkEventButton* /*event*/, gpointer /*data*/) {
    GdkWindow* gdk_window = gtk_widget_get_window(app.window);
    if (gdk_window != nullptr && !gtk_window_has_toplevel_focus(GTK_WINDOW(app.window))) {
        XSetInputFocus(app.display, GDK_WINDOW_XID(gdk_window), RevertToParent, CurrentTime);
    }
    return FALSE;
}

bool parse_arguments(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--parent") {
            app.parent = static_cast<Window>(std::strtoull(value, nullptr, 0));
        } else if (key == "--width") {
            app.width = std::atoi(value);
        } else if (key == "--height") {
            app.height = std::atoi(value);
        } else {
            return false;
        }
    }
    return app.parent != 0 && app.width > 0 && app.height > 0 && app.width < 16384 && app.height < 16384;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (!parse_arguments(argc, argv)) {
        std::fprintf(stderr, "usage: tessellgrove-editor --parent <window id> [--width W --height H]\n");
        return 2;
    }
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) {
        log_line("no X11 display");
        return 3;
    }
    app.display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    XSetErrorHandler(&on_x_error);
    XSetIOErrorHandler(&on_x_io_error);

    XWindowAttributes parent_attributes;
    if (XGetWindowAttributes(app.display, app.parent, &parent_attributes) == 0) {
        log_line("parent window not found");
        return 4;
    }

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserScript* script = webkit_user_script_new(ipc_script, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    g_signal_connect(content, "script-message-received::ipc", G_CALLBACK(on_script_message), nullptr);
    webkit_user_content_manager_register_script_message_handler(content, "ipc");

    app.view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
    WebKitSettings* settings = webkit_web_view_get_settings(app.view);
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
    GdkRGBA background = {0.102, 0.102, 0.102, 1.0};
    webkit_web_view_set_background_color(app.view, &background);
    g_signal_connect(app.view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
    g_signal_connect(app.view, "web-process-terminated", G_CALLBACK(on_web_process_terminated), nullptr);

    app.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(app.window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(app.window), app.width, app.height);
    gtk_widget_set_size_request(app.window, app.width, app.height);
    gtk_container_add(GTK_CONTAINER(app.window), GTK_WIDGET(app.view));
    gtk_widget_add_events(app.window, GDK_BUTTON_RELEASE_MASK);
    g_signal_connect_after(app.view, "button-release-event", G_CALLBACK(on_button_release), nullptr);

    // Into the parent before anything is mapped, so no top-level window
    // ever flashes on screen.
    gtk_widget_realize(app.window);
    GdkWindow* gdk_window = gtk_widget_get_window(app.window);
    XReparentWindow(app.display, GDK_WINDOW_XID(gdk_window), app.parent, 0, 0);
    XSync(app.display, False);
    gtk_widget_show_all(app.window);
    gdk_window_move(gdk_window, 0, 0);

    g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &on_input, nullptr);
    g_timeout_add(parent_check_ms, &check_parent, nullptr);

    gtk_main();
    // Straight out: tearing the web view down after the parent window may
    // already be gone only produces X errors, and the web process ends on
    // its own when this process's end of the connection closes.
    std::fflush(stderr);
    std::_Exit(0);
}
