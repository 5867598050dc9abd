#pragma once

#include <expected>
#include <string>
#include <utility>

namespace mirel {

// The one error value of the program: an error code, an operating-system text or a translated
// sentence, always UTF-8. Its own type, so that `return "text";` can never become a success value.
class SetupError {
public:
    explicit SetupError(std::string text) : text_(std::move(text)) {}

    const std::string& text() const noexcept { return text_; }
    bool operator==(const SetupError&) const = default;

private:
    std::string text_;
};

template <typename T>
using Result = std::expected<T, SetupError>;
using Status = std::expected<void, SetupError>;

inline std::unexpected<SetupError> fail(std::string text) {
    return std::unexpected(SetupError(std::move(text)));
}

}  // namespace mirel

#define MIREL_CONCAT_INNER_(a, b) a##b
#define MIREL_CONCAT_(a, b) MIREL_CONCAT_INNER_(a, b)

// Returns the error of `expr` (a Result or Status) from the calling function.
#define RETURN_IF_ERROR(expr)                                      \
    do {                                                           \
        if (auto mirel_status_ = (expr); !mirel_status_)           \
            return std::unexpected(std::move(mirel_status_).error()); \
    } while (false)

// Declares or assigns `lhs` from the value of `expr`, or returns its error.
#define ASSIGN_OR_RETURN(lhs, expr) \
    ASSIGN_OR_RETURN_IMPL_(MIREL_CONCAT_(mirel_result_, __LINE__), lhs, expr)
#define ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr)          \
    auto tmp = (expr);                                  \
    if (!tmp) return std::unexpected(std::move(tmp).error()); \
    lhs = std::move(tmp).value()
