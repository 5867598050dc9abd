#pragma once

#include <utility>

namespace mirel {

// Single owner of one system handle. `Traits` names the handle type (`pointer`), its empty value
// (`empty()`), which values count as empty (`is_empty`), and how to close it (`close`).
template <typename Traits>
class UniqueAny {
public:
    using pointer = typename Traits::pointer;

    UniqueAny() noexcept = default;
    explicit UniqueAny(pointer value) noexcept : value_(value) {}
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return !Traits::is_empty(value_); }

    pointer release() noexcept { return std::exchange(value_, Traits::empty()); }

    void reset(pointer value = Traits::empty()) noexcept {
        const pointer old = std::exchange(value_, value);
        if (!Traits::is_empty(old)) Traits::close(old);
    }

    // Closes the current value and hands out its slot for an out-parameter.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::empty();
};

}  // namespace mirel
