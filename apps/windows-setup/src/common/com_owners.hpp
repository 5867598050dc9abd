#pragma once

// Owners of the objects that COM and automation calls hand out: an interface pointer, released
// once, and a BSTR, freed once.

#include "common/os.hpp"
#include "common/unique_any.hpp"

namespace mirel {

template <typename Interface>
struct ComTraits {
    using pointer = Interface*;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept { value->Release(); }
};
template <typename Interface>
using ComPointer = UniqueAny<ComTraits<Interface>>;

// The slot of a QueryInterface-style out-parameter.
template <typename Interface>
void** slot(ComPointer<Interface>& pointer) {
    return reinterpret_cast<void**>(pointer.put());
}

struct BstrTraits {
    using pointer = BSTR;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept { os::SysFreeString(value); }
};
using UniqueBstr = UniqueAny<BstrTraits>;

}  // namespace mirel
