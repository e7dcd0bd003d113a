#include "plugin/presets/preset_library.hpp"

#include "plugin/presets/factory_presets.hpp"
#include "plugin/presets/unicode_text.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessellgrove {
namespace {

namespace fs = std::filesystem;

// Closes a file descriptor on scope exit.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return fd_; }
    // Closes now and reports the errno of a failed close (0 on success).
    int close_now() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return (fd >= 0 && ::close(fd) != 0) ? errno : 0;
    }
    void reset() noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

// Home directory from the password database entry of the real user, looked
// up once with the buffer size the system recommends.
std::optional<std::string> password_database_home() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size < 0) {
        size = 512;
    }
    std::vector<char> buffer(static_cast<std::size_t>(size));
    passwd entry{};
    passwd* result = nullptr;
    const int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result);
    if (rc != 0 || result == nullptr || result->pw_dir == nullptr || result->pw_dir[0] == '\0') {
        return std::nullopt;
    }
    return std::string(result->pw_dir);
}

std::optional<fs::path> config_dir() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return fs::path(xdg);
    }
    std::optional<std::string> home;
    if (const char* env_home = std::getenv("HOME"); env_home != nullptr && env_home[0] != '\0') {
        home = env_home;
    } else {
        home = password_database_home();
    }
    if (!home) {
        return std::nullopt;
    }
    return fs::path(*home) / ".config";
}

bool is_existing_directory(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p: creates `path` and its missing parents (0777 less the umask).
// An existing directory is fine; any other failure is returned as errno.
int make_directories(const fs::path& path) {
    if (path.empty()) {
        return 0;
    }
    if (::mkdir(path.c_str(), 0777) == 0) {
        return 0;
    }
    int err = errno;
    if (err != ENOENT) {
        return is_existing_directory(path) ? 0 : err;
    }
    const fs::path parent = path.parent_path();
    if (parent.empty() || parent == path) {
        return err;
    }
    if (const int parent_err = make_directories(parent); parent_err != 0) {
        return parent_err;
    }
    if (::mkdir(path.c_str(), 0777) == 0) {
        return 0;
    }
    err = errno;
    return is_existing_directory(path) ? 0 : err;
}

// Writes every byte, retrying short writes and interruptions.
int write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// Name of a temporary file that no other writer (thread or process) uses:
// pid, a process-wide counter and a random word, created with O_EXCL. It is
// hidden and ends in ".tmp", so the listing never shows it.
std::string temporary_file_name() {
    static std::atomic<std::uint64_t> counter{0};
    thread_local std::mt19937_64 random{std::random_device{}()};
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, ".tessellgrove-save-%lx-%llx-%llx.tmp",
                  static_cast<unsigned long>(::getpid()),
                  static_cast<unsigned long long>(counter.fetch_add(1, std::memory_order_relaxed)),
                  static_cast<unsigned long long>(random()));
    return buffer;
}

// Syncs a directory so a rename inside it is durable. File systems that
// cannot sync directories answer EINVAL, which is not a failure here.
int sync_directory(const fs::path& dir) {
    FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno;
    }
    if (::fsync(fd.get()) != 0 && errno != EINVAL) {
        return errno;
    }
    return fd.close_now();
}

// Writes `text` to a fresh temporary file in `dir`, synced and closed, and
// returns its path; on failure nothing is left behind.
PresetResult<fs::path> write_temporary(const fs::path& dir, std::string_view text) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path temp = dir / temporary_file_name();
        FileDescriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.get() < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return PresetError::io_errno(errno);
        }
        int err = write_all(fd.get(), text);
        if (err == 0 && ::fsync(fd.get()) != 0) {
            err = errno;
        }
        if (const int close_err = fd.close_now(); err == 0) {
            err = close_err;
        }
        if (err != 0) {
            ::unlink(temp.c_str());
            return PresetError::io_errno(err);
        }
        return temp;
    }
    return PresetError::io_errno(EEXIST);
}

// Reads at most `limit` bytes; a longer file fails. O_NONBLOCK keeps a
// FIFO from blocking the open; it does not affect regular files.
PresetResult<std::string> read_limited(const fs::path& path, std::size_t limit) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        return PresetError::io_errno(errno);
    }
    std::string text;
    std::size_t used = 0;
    text.resize(std::min<std::size_t>(limit + 1, 64 * 1024));
    for (;;) {
        if (used == text.size()) {
            if (text.size() > limit) {
                return PresetError::io("preset file is larger than " + std::to_string(limit) + " bytes");
            }
            text.resize(std::min(text.size() * 2, limit + 1));
        }
        const ssize_t n = ::read(fd.get(), text.data() + used, text.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return PresetError::io_errno(errno);
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    if (used > limit) {
        return PresetError::io("preset file is larger than " + std::to_string(limit) + " bytes");
    }
    text.resize(used);
    return text;
}

} // namespace

std::optional<fs::path> get_presets_dir() {
    auto base = config_dir();
    if (!base) {
        return std::nullopt;
    }
    return *base / "corvalune" / "tessellgrove" / "Presets";
}

std::string preset_file_stem(std::string_view name) {
    std::string replaced(name);
    for (char& c : replaced) {
        switch (c) {
        case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
            c = '_';
            break;
        default:
            break;
        }
    }
    return std::string(trim_unicode_whitespace(replaced));
}

PresetResult<fs::path> save_preset(const TessellgrovePreset& preset) {
    try {
        const auto dir = get_presets_dir();
        if (!dir) {
            return PresetError::no_preset_directory();
        }
        const std::string stem = preset_file_stem(preset.name);
        // A NUL cannot be part of a file name; fail before touching the disk.
        if (stem.find('\0') != std::string::npos) {
            return PresetError::io("file name contained an unexpected NUL byte");
        }
        if (const int err = make_directories(*dir); err != 0) {
            return PresetError::io_errno(err);
        }
        const fs::path target = *dir / (stem + "." + std::string(preset_file_extension));
        const std::string text = preset.to_json();

        auto temp = write_temporary(*dir, text);
        if (!temp) {
            return temp.error();
        }
        if (::rename(temp->c_str(), target.c_str()) != 0) {
            const int err = errno;
            ::unlink(temp->c_str());
            return PresetError::io_errno(err);
        }
        if (const int err = sync_directory(*dir); err != 0) {
            return PresetError::io_errno(err);
        }
        return target;
    } catch (const std::exception& ex) {
        return PresetError::io(ex.what());
    }
}

PresetResult<TessellgrovePreset> load_preset(const fs::path& path) {
    try {
        auto text = read_limited(path, max_preset_file_size);
        if (!text) {
            return text.error();
        }
        if (!is_valid_utf8(*text)) {
            return PresetError::io("stream did not contain valid UTF-8");
        }
        return TessellgrovePreset::from_json(*text);
    } catch (const std::exception& ex) {
        return PresetError::io(ex.what());
    }
}

std::pair<std::string_view, std::optional<std::string_view>> split_file_name(std::string_view file_name) {
    if (file_name == "..") {
        return {file_name, std::nullopt};
    }
    const auto dot = file_name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {file_name, std::nullopt};
    }
    return {file_name.substr(0, dot), file_name.substr(dot + 1)};
}

std::vector<PresetEntry> list_all_presets() {
    std::vector<PresetEntry> entries;
    try {
        for (const TessellgrovePreset& preset : FACTORY_PRESETS) {
            PresetEntry e;
            e.kind = PresetEntry::Kind::Factory;
            e.name = preset.name;
            e.preset = preset;
            entries.push_back(std::move(e));
        }
        if (const auto dir = get_presets_dir()) {
            std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir->c_str()), &::closedir);
            if (handle) {
                while (const dirent* d = ::readdir(handle.get())) {
                    const std::string_view file_name(d->d_name);
                    if (file_name == "." || file_name == "..") {
                        continue;
                    }
                    const auto [stem, extension] = split_file_name(file_name);
                    if (!extension || *extension != preset_file_extension) {
                        continue;
                    }
                    PresetEntry e;
                    e.kind = PresetEntry::Kind::User;
                    e.name = utf8_lossy(stem);
                    e.path = *dir / std::string(file_name);
                    entries.push_back(std::move(e));
                }
            }
        }
        // Keys computed once; the sort is stable so equal keys keep factory
        // order first, then directory order.
        std::vector<std::pair<std::string, std::size_t>> keys;
        keys.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            keys.emplace_back(to_unicode_lower(entries[i].name), i);
        }
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<PresetEntry> sorted;
        sorted.reserve(entries.size());
        for (const auto& key : keys) {
            sorted.push_back(std::move(entries[key.second]));
        }
        return sorted;
    } catch (const std::exception&) {
        // Out of memory while listing: whatever was gathered, unsorted.
        return entries;
    }
}

std::optional<PresetError> remove_preset_file(const fs::path& path) {
    if (::unlink(path.c_str()) != 0) {
        return PresetError::io_errno(errno);
    }
    return std::nullopt;
}

} // namespace tessellgrove
