#pragma once
// A small value-or-error type (the shape of C++23's std::expected) for results that cross module
// boundaries without exceptions.
#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarvel {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(const T& value) : state_(std::in_place_index<0>, value) {}
    Result(T&& value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class G>
    Result(Unexpected<G> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { assert(has_value()); return std::get<0>(state_); }
    const T& value() const& { assert(has_value()); return std::get<0>(state_); }
    T&& value() && { assert(has_value()); return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const& { assert(!has_value()); return std::get<1>(state_); }
    E&& error() && { assert(!has_value()); return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E> state_;
};

} // namespace tarvel
