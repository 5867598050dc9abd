#include <cstdlib>
#include <new>

#include "common/os.hpp"

// Allocation never throws in this program, which has no exceptions: when memory runs out, the
// new-handler is called, as often as it returns, and it ends the run. Without a handler the
// program ends at once.
void* operator new(std::size_t size) {
    for (;;) {
        if (void* memory = mirel::os::allocate(size == 0 ? 1 : size)) return memory;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) std::abort();
        handler();
    }
}
