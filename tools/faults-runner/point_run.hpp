#pragma once

// One run of the setup program under a fault, answered from outside as its user would answer
// it, and what came of it.

#include <string>

#include "points.hpp"

namespace mirel::faults {

// Where a point's run happens: `temp` is handed to the program as TMP and TEMP, `scratch` holds
// the seam's report and the run's log. Both are made empty before the run.
struct PointPlace {
    std::wstring root;
    std::wstring temp;
    std::wstring scratch;
};
[[nodiscard]] PointPlace point_place(const std::wstring& work_directory, std::size_t number);

// How a point came out. The kinds are those that the sweep counts:
//   clear-error    exit 1 with the failure's text, nothing left behind
//   sound-success  exit 0 with the run's work done, nothing left behind
//   killed         ended by the seam; the next run removed what it had left
//   not-reached    the call was never made this time, and the run was a sound success
//   unsound        anything else: leftovers, a crash, a hang, a wrong success, a failure without
//                  text, a window that such a run never shows
//   rig-fault      the runner could not do its part (start the program, remove the product)
struct Verdict {
    std::string kind;
    std::string detail;
};

// Runs the point and tells how it came out.
[[nodiscard]] Verdict run_point(const Point& point, const std::wstring& setup, const PointPlace& place);

// Runs `run` without a fault, counting every call into `counts_file`; anything but a sound success
// is a verdict of its own kind.
[[nodiscard]] Verdict count_run(RunKind run, const std::wstring& setup, const PointPlace& place,
                                const std::wstring& counts_file);

}  // namespace mirel::faults
