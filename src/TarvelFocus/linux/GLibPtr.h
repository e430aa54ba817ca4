#pragma once
#include <glib.h>
#include <memory>

namespace tarvel_focus::linux_platform {

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
// Owns memory that GLib allocated (strings, arrays).
template <typename T> using GMemoryPtr = std::unique_ptr<T, GFreeDeleter>;

struct GKeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
using GKeyFilePtr = std::unique_ptr<GKeyFile, GKeyFileDeleter>;

} // namespace tarvel_focus::linux_platform
