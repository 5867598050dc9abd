#pragma once

// The run's log, for support: what each step did and why the run ended, one line per event. Nothing
// is written, and nothing is even composed, unless the command line asked for a log; the Windows
// tier then gives the lines their time and their file.
//
// An event is a list of parts, composed only when there is a log: a call costs a few stores and a
// call without one, and the program stays small.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/setup_error.hpp"

namespace mirel {

// One part of an event.
class LogPart {
public:
    enum class Kind : std::uint8_t { Text, Number, Outside, OsError, Rows, Hex, Error };

    constexpr LogPart(std::string_view text) noexcept : kind_(Kind::Text), text_(text) {}
    constexpr LogPart(const char* text) noexcept : kind_(Kind::Text), text_(text) {}
    LogPart(const std::string& text) noexcept : kind_(Kind::Text), text_(text) {}
    template <typename Number>
    requires(std::is_integral_v<Number> && !std::is_same_v<Number, bool> &&
             !std::is_same_v<Number, char>) constexpr LogPart(Number number) noexcept
        : kind_(Kind::Number), number_(static_cast<std::int64_t>(number)) {}

    // Text from elsewhere (a package's value, a program's output), kept on the line: see one_line.
    [[nodiscard]] static LogPart outside(std::string_view text) noexcept { return {Kind::Outside, text}; }
    // The system's message for a Windows error code, "message (os error N)".
    [[nodiscard]] static LogPart os_error(std::uint32_t code) noexcept { return LogPart(Kind::OsError, code); }
    // The rows a query gave, each quoted, or "no row".
    [[nodiscard]] static LogPart rows(const std::vector<std::string>& rows) noexcept {
        return LogPart(Kind::Rows, &rows);
    }
    [[nodiscard]] static LogPart hex(std::span<const std::byte> bytes) noexcept {
        return {Kind::Hex, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())};
    }
    // What the user sees of the error.
    [[nodiscard]] static LogPart error(const SetupError& error) noexcept { return LogPart(Kind::Error, &error); }

    [[nodiscard]] Kind kind() const noexcept { return kind_; }
    // Each part holds one value, the one its kind names; asked for another, it gives an empty one.
    [[nodiscard]] std::string_view text() const noexcept {
        return kind_ == Kind::Text || kind_ == Kind::Outside || kind_ == Kind::Hex ? text_ : std::string_view();
    }
    [[nodiscard]] std::int64_t number() const noexcept {
        return kind_ == Kind::Number || kind_ == Kind::OsError ? number_ : 0;
    }
    [[nodiscard]] const void* object() const noexcept {
        return kind_ == Kind::Rows || kind_ == Kind::Error ? object_ : nullptr;
    }

private:
    constexpr LogPart(Kind kind, std::string_view text) noexcept : kind_(kind), text_(text) {}
    constexpr LogPart(Kind kind, std::int64_t number) noexcept : kind_(kind), number_(number) {}
    constexpr LogPart(Kind kind, const void* object) noexcept : kind_(kind), object_(object) {}

    // One value a part: every event builds its parts in place at each call, so each field that a
    // part does not need would be one more store at every one of them, all through the program.
    Kind kind_;
    union {
        std::string_view text_;
        std::int64_t number_;
        const void* object_;
    };
};

// Where finished lines go: `topic` names the part of the run ("staging", "engine"), `text` is the
// event, both UTF-8 on one line.
using RunLogSink = void (*)(std::string_view topic, std::string_view text);
// The system's message for a Windows error code.
using OsErrorText = std::string (*)(std::uint32_t code);

// From now on, events go to `sink` (null: nowhere).
void set_run_log_sink(RunLogSink sink, OsErrorText os_error_text = nullptr) noexcept;

[[nodiscard]] bool run_log_enabled() noexcept;

// Writes the event, when there is a log.
void log_event(std::string_view topic, std::initializer_list<LogPart> parts);

// The parts composed into one line.
[[nodiscard]] std::string compose(std::initializer_list<LogPart> parts);

// Text from elsewhere (a program's output, a package's value) made fit for one line: line breaks,
// tabs and other control characters written as \n, \r, \t and \xNN, ill-formed UTF-8 as U+FFFD.
[[nodiscard]] std::string one_line(std::string_view text);

// "2026-12-09T15:11:43.123Z" for a FILETIME value (from 1970 on).
[[nodiscard]] std::string utc_timestamp(std::uint64_t filetime);

}  // namespace mirel
