#pragma once
#include <glib-object.h>
#include <memory>

namespace tarvel_focus::linux_platform {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
// Owns one reference to a GObject.
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
// Owns memory that GLib allocated (strings, arrays).
template <typename T> using GMemoryPtr = std::unique_ptr<T, GFreeDeleter>;

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

struct GKeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
using GKeyFilePtr = std::unique_ptr<GKeyFile, GKeyFileDeleter>;

} // namespace tarvel_focus::linux_platform
