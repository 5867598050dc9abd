#include "inspection/inspect_packages.hpp"

#include "common/win32.hpp"
#include "staging/payloads.hpp"

namespace mirel {

Status inspect_packages() {
    // The program's own icon must load before any of its packages is examined.
    RETURN_IF_ERROR(load_setup_icon());
    return inspect_payloads(PAYLOADS);
}

}  // namespace mirel
