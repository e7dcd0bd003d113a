#include "plugin_kit/host/shared_library.hpp"

#include <dlfcn.h>

namespace plugin_kit::host {

std::shared_ptr<SharedLibrary> SharedLibrary::open(const std::string& path, std::string& error) {
    // Clear any stale loader message so the one read below is this call's.
    dlerror();
    // RTLD_NODELETE: the library stays mapped after the last close, as most
    // hosts keep plug-in libraries for the life of the process. Plug-ins keep
    // process-wide objects they never free (a statically linked C++
    // runtime's exception pool, a logger); unmapping would orphan those on
    // every reload instead of keeping one set reachable.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* message = dlerror();
        error = message != nullptr ? message : "cannot load " + path;
        return nullptr;
    }
    return std::shared_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::symbol(const char* name) const noexcept { return dlsym(handle_, name); }

} // namespace plugin_kit::host
