#pragma once
// A loaded shared object (dlopen/dlsym/dlclose), owned: closing happens when
// the last owner lets go, and the code stays mapped for the rest of the
// process (see open). Symbols are looked up by name; a missing symbol is
// nullptr, a library that cannot be loaded is an error text from the loader.

#include <memory>
#include <string>
#include <string_view>

namespace plugin_kit::host {

class SharedLibrary {
public:
    // Loads `path` with all symbols bound now and kept local to the library.
    // nullptr and `error` filled when the loader refuses it.
    static std::shared_ptr<SharedLibrary> open(const std::string& path, std::string& error);

    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The address of `name` in this library, or nullptr.
    void* symbol(const char* name) const noexcept;
    // The loader's handle, for entry points that want it (VST3 ModuleEntry).
    void* handle() const noexcept { return handle_; }
    const std::string& path() const noexcept { return path_; }

private:
    SharedLibrary(void* handle, std::string path) noexcept : handle_(handle), path_(std::move(path)) {}

    void* handle_;
    std::string path_;
};

} // namespace plugin_kit::host
