#pragma once
// CLAP 1.2 core ABI: version, host, plug-in descriptor and object, plug-in
// factory, entry record and byte streams.
//
// These are our own declarations of exactly the parts of the published CLAP
// ABI that plugin_kit uses. They are plain C-layout structs of function
// pointers, laid out field for field as the standard fixes them; the
// static_asserts below pin every size and offset a host relies on for
// x86-64 Linux (LP64, natural alignment, no packing). On this platform the
// standard's calling convention macro is empty, so the function pointers use
// the default System V convention.
//
// Names are the standard's own C names, kept so that every field can be
// checked against the published ABI at a glance.

#include <cstddef>
#include <cstdint>

namespace plugin_kit::clap_abi {

using clap_id = uint32_t;
inline constexpr clap_id CLAP_INVALID_ID = UINT32_MAX;

// String capacities of the fixed-size text fields.
inline constexpr uint32_t CLAP_NAME_SIZE = 256;
inline constexpr uint32_t CLAP_PATH_SIZE = 1024;

struct clap_version {
    uint32_t major;
    uint32_t minor;
    uint32_t revision;
};
// The records name their version member `clap_version`, so they spell the type this way.
using clap_version_t = clap_version;

// The version this library is built against and reports everywhere.
inline constexpr clap_version CLAP_VERSION_1_2_2{1, 2, 2};

// A host or plug-in is compatible when its major version is at least 1.
constexpr bool clap_version_is_compatible(clap_version v) noexcept { return v.major >= 1; }

// Host callbacks handed to `create_plugin`.
struct clap_host {
    clap_version_t clap_version;
    void* host_data;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void* (*get_extension)(const clap_host* host, const char* extension_id);
    void (*request_restart)(const clap_host* host);
    void (*request_process)(const clap_host* host);
    void (*request_callback)(const clap_host* host);
};

struct clap_plugin_descriptor {
    clap_version_t clap_version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version;
    const char* description;
    const char* const* features; // null-terminated list
};

struct clap_process; // process.hpp

using clap_process_status = int32_t;
inline constexpr clap_process_status CLAP_PROCESS_ERROR = 0;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE = 1;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2;
inline constexpr clap_process_status CLAP_PROCESS_TAIL = 3;
inline constexpr clap_process_status CLAP_PROCESS_SLEEP = 4;

// The plug-in object. `plugin_data` is ours: it carries the adapter's `this`.
struct clap_plugin {
    const clap_plugin_descriptor* desc;
    void* plugin_data;
    bool (*init)(const clap_plugin* plugin);                     // main thread
    void (*destroy)(const clap_plugin* plugin);                  // main thread, !active
    bool (*activate)(const clap_plugin* plugin, double sample_rate, uint32_t min_frames_count,
                     uint32_t max_frames_count);                 // main thread, !active
    void (*deactivate)(const clap_plugin* plugin);               // main thread, active
    bool (*start_processing)(const clap_plugin* plugin);         // audio thread, active, !processing
    void (*stop_processing)(const clap_plugin* plugin);          // audio thread, processing
    void (*reset)(const clap_plugin* plugin);                    // audio thread, active
    clap_process_status (*process)(const clap_plugin* plugin, const clap_process* process);
    const void* (*get_extension)(const clap_plugin* plugin, const char* id); // thread-safe
    void (*on_main_thread)(const clap_plugin* plugin);           // main thread
};

inline constexpr char CLAP_PLUGIN_FACTORY_ID[] = "clap.plugin-factory";

struct clap_plugin_factory {
    uint32_t (*get_plugin_count)(const clap_plugin_factory* factory);
    const clap_plugin_descriptor* (*get_plugin_descriptor)(const clap_plugin_factory* factory,
                                                           uint32_t index);
    const clap_plugin* (*create_plugin)(const clap_plugin_factory* factory, const clap_host* host,
                                        const char* plugin_id);
};

// The exported `clap_entry` record.
struct clap_plugin_entry {
    clap_version_t clap_version;
    bool (*init)(const char* plugin_path);
    void (*deinit)();
    const void* (*get_factory)(const char* factory_id);
};

// Byte streams of the state extension. `read` returns the number of bytes
// read, 0 at end of stream, -1 on error; `write` the number written or -1.
struct clap_istream {
    void* ctx;
    int64_t (*read)(const clap_istream* stream, void* buffer, uint64_t size);
};

struct clap_ostream {
    void* ctx;
    int64_t (*write)(const clap_ostream* stream, const void* buffer, uint64_t size);
};

// --- layout checks (x86-64 Linux) ---------------------------------------------
static_assert(sizeof(clap_version) == 12);
static_assert(offsetof(clap_host, host_data) == 16);
static_assert(offsetof(clap_host, get_extension) == 56);
static_assert(offsetof(clap_host, request_callback) == 80);
static_assert(sizeof(clap_host) == 88);
static_assert(offsetof(clap_plugin_descriptor, id) == 16);
static_assert(offsetof(clap_plugin_descriptor, description) == 72);
static_assert(offsetof(clap_plugin_descriptor, features) == 80);
static_assert(sizeof(clap_plugin_descriptor) == 88);
static_assert(offsetof(clap_plugin, init) == 16);
static_assert(offsetof(clap_plugin, reset) == 64);
static_assert(offsetof(clap_plugin, process) == 72);
static_assert(offsetof(clap_plugin, on_main_thread) == 88);
static_assert(sizeof(clap_plugin) == 96);
static_assert(sizeof(clap_plugin_factory) == 24);
static_assert(offsetof(clap_plugin_entry, init) == 16);
static_assert(offsetof(clap_plugin_entry, get_factory) == 32);
static_assert(sizeof(clap_plugin_entry) == 40);
static_assert(sizeof(clap_istream) == 16 && sizeof(clap_ostream) == 16);

} // namespace plugin_kit::clap_abi
