#pragma once
#include <dlfcn.h>

namespace tarvel_focus::linux_platform {

// A system library loaded on first need rather than at start-up: GIO and ICU each cost the command
// several milliseconds to load and relocate, and most runs use neither. Once loaded, a library stays
// for the life of the process (their types and caches cannot be unloaded safely).
class SharedLibrary {
public:
    explicit SharedLibrary(const char* soname) : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }

    // The function named `name`, typed as the declaration `Function` from the library's own header,
    // or null when the library or the symbol is missing.
    template <typename Function> Function* function(const char* name) const {
        return handle_ ? reinterpret_cast<Function*>(dlsym(handle_, name)) : nullptr;
    }

private:
    void* handle_;
};

} // namespace tarvel_focus::linux_platform
