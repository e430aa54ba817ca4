#pragma once
// Ownership of GLib allocations and GObject references.
#include <glib-object.h>

#include <memory>

namespace tarvel {

struct GObjectUnref {
    void operator()(gpointer object) const noexcept {
        if (object) g_object_unref(object);
    }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer memory) const noexcept { g_free(memory); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

struct GErrorFree {
    void operator()(GError* error) const noexcept {
        if (error) g_error_free(error);
    }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

// Adopts a reference the caller already owns.
template <class T>
GObjectPtr<T> adopt(T* object) {
    return GObjectPtr<T>(object);
}

// Takes a reference of its own to an object it was only lent.
template <class T>
GObjectPtr<T> retain(T* object) {
    if (object) g_object_ref(object);
    return GObjectPtr<T>(object);
}

} // namespace tarvel
