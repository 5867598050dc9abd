#include "points.hpp"

#include <array>
#include <charconv>
#include <cstdio>

#include "error_table.hpp"

namespace mirel::faults {
namespace {

constexpr std::array<std::pair<RunKind, std::string_view>, 3> RUN_NAMES = {{
    {RunKind::Validation, "validation"},
    {RunKind::Update, "update"},
    {RunKind::Interactive, "interactive"},
}};

std::optional<std::uint64_t> parse_number(std::string_view text) {
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    if (hex) text.remove_prefix(2);
    std::uint64_t value = 0;
    const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value, hex ? 16 : 10);
    if (text.empty() || failed != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
        found.push_back(line.substr(start, end - start));
        at = end;
    }
    return found;
}

}  // namespace

std::optional<RunKind> run_kind(std::string_view name) {
    for (const auto& [run, known] : RUN_NAMES) {
        if (known == name) return run;
    }
    return std::nullopt;
}

std::string_view run_name(RunKind run) {
    for (const auto& [known, name] : RUN_NAMES) {
        if (known == run) return name;
    }
    return "?";
}

std::string error_text(DWORD error) {
    if (error <= 0xFFFF) return std::to_string(error);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(error));
    return text;
}

std::string point_line(const Point& point) {
    return std::string(run_name(point.run)) + " " + point.function + " " + std::to_string(point.call) +
           (point.kill ? " kill -" : " fail " + error_text(point.error));
}

std::optional<Point> parse_point(std::string_view line) {
    const std::vector<std::string_view> parts = words(line);
    if (parts.size() != 5) return std::nullopt;
    Point point;
    const std::optional<RunKind> run = run_kind(parts[0]);
    const std::optional<std::uint64_t> call = parse_number(parts[2]);
    if (!run || !call || *call == 0) return std::nullopt;
    point.run = *run;
    point.function = parts[1];
    point.call = *call;
    if (parts[3] == "kill" && parts[4] == "-") {
        point.kill = true;
        return point;
    }
    const std::optional<std::uint64_t> error = parse_number(parts[4]);
    if (parts[3] != "fail" || !error || *error > 0xFFFFFFFF) return std::nullopt;
    point.error = static_cast<DWORD>(*error);
    return point;
}

std::vector<std::uint64_t> spread(std::uint64_t count, std::uint64_t cap) {
    std::vector<std::uint64_t> calls;
    if (count <= cap) {
        for (std::uint64_t call = 1; call <= count; ++call) calls.push_back(call);
        return calls;
    }
    // Rounded to the nearest call; the first step is 0 and the last is count - 1, so the first and
    // the last call are always struck.
    for (std::uint64_t step = 0; step < cap; ++step)
        calls.push_back(1 + (step * (count - 1) + (cap - 1) / 2) / (cap - 1));
    return calls;
}

std::optional<Counts> parse_counts(std::string_view text) {
    Counts counts;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::vector<std::string_view> parts = words(text.substr(at, end - at));
        at = end + 1;
        if (parts.empty()) continue;
        const std::optional<std::uint64_t> count = parts.size() == 2 ? parse_number(parts[1]) : std::nullopt;
        if (!count) return std::nullopt;
        counts[std::string(parts[0])] += *count;
    }
    return counts;
}

std::vector<Point> plan_points(RunKind run, const Counts& counts, std::uint64_t cap, std::vector<std::string>& capped) {
    std::vector<Point> points;
    const auto add = [&](std::string_view function, bool kill, DWORD error) {
        const auto found = counts.find(function);
        if (found == counts.end() || found->second == 0) return;
        if (found->second > cap) {
            capped.push_back(std::string(function) + " " + std::to_string(found->second) + " calls, " +
                             std::to_string(cap) + (kill ? " kill points" : " points"));
        }
        for (const std::uint64_t call : spread(found->second, cap))
            points.push_back({run, std::string(function), call, kill, error});
    };
    for (const RealisticError& row : REALISTIC_ERRORS) add(row.function, false, row.error);
    for (const std::string_view function : KILL_FUNCTIONS) add(function, true, 0);
    return points;
}

}  // namespace mirel::faults
