#pragma once

// The points of a sweep: which run, which call of which function, and what happens to it. One
// point is one line of a points file ("update WriteFile 3 fail 112", "validation Sleep 2 kill -").

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirel::faults {

enum class RunKind { Validation, Update, Interactive };

[[nodiscard]] std::optional<RunKind> run_kind(std::string_view name);
[[nodiscard]] std::string_view run_name(RunKind run);

struct Point {
    RunKind run = RunKind::Validation;
    std::string function;
    std::uint64_t call = 0;
    bool kill = false;  // else the call fails with `error`
    DWORD error = 0;
};

// "RUN FUNCTION N fail ERROR" or "RUN FUNCTION N kill -".
[[nodiscard]] std::string point_line(const Point& point);
[[nodiscard]] std::optional<Point> parse_point(std::string_view line);

// An error as the seam reads it: NTSTATUS and HRESULT values in hex, Windows errors in decimal.
[[nodiscard]] std::string error_text(DWORD error);

// The calls of a function that a sweep strikes: all of them, or `cap` spread evenly from the first
// to the last.
[[nodiscard]] std::vector<std::uint64_t> spread(std::uint64_t count, std::uint64_t cap);

// The seam's count file: "NAME COUNT" lines.
using Counts = std::map<std::string, std::uint64_t, std::less<>>;
[[nodiscard]] std::optional<Counts> parse_counts(std::string_view text);

// The points of one run, in the order of the error table and then of the kill list; `capped`
// receives a line for each function whose calls were more than the cap.
[[nodiscard]] std::vector<Point> plan_points(RunKind run, const Counts& counts, std::uint64_t cap,
                                             std::vector<std::string>& capped);

}  // namespace mirel::faults
