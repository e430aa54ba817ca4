#pragma once
#include <glib-object.h>

#include <utility>

namespace tarvel {

// Owns one strong reference to a GObject (or a GObject-derived instance) and drops it on scope exit.
template <class T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference the caller already owns (a "transfer full" return value).
    explicit GObjectPtr(T* owned) noexcept : object_(owned) {}
    static GObjectPtr retain(T* object) {
        if (object) g_object_ref(object);
        return GObjectPtr(object);
    }
    GObjectPtr(const GObjectPtr& other) : object_(other.object_) {
        if (object_) g_object_ref(object_);
    }
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectPtr() {
        if (object_) g_object_unref(object_);
    }

    T* get() const noexcept { return object_; }
    T* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

} // namespace tarvel
