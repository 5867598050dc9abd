#include "common/run_log.hpp"

#include "common/filetime.hpp"
#include "common/unicode.hpp"

namespace mirel {
namespace {

RunLogSink current_sink = nullptr;
OsErrorText current_os_error_text = nullptr;

constexpr std::string_view HEX_DIGITS = "0123456789abcdef";

// `value` in decimal, zero-padded to `width` digits.
void append_padded(std::string& text, std::uint64_t value, int width = 2) {
    std::string digits;
    for (int i = 0; i < width; ++i) {
        digits.insert(digits.begin(), static_cast<char>('0' + value % 10));
        value /= 10;
    }
    text += digits;
}

void append_part(std::string& line, const LogPart& part) {
    switch (part.kind()) {
        case LogPart::Kind::Text: line += part.text(); return;
        case LogPart::Kind::Number: line += std::to_string(part.number()); return;
        case LogPart::Kind::Outside: line += one_line(part.text()); return;
        case LogPart::Kind::OsError:
            if (current_os_error_text != nullptr) {
                line += current_os_error_text(static_cast<std::uint32_t>(part.number()));
            } else {
                line += "os error " + std::to_string(part.number());
            }
            return;
        case LogPart::Kind::Rows: {
            const auto& rows = *static_cast<const std::vector<std::string>*>(part.object());
            if (rows.empty()) line += "no row";
            for (std::size_t i = 0; i < rows.size(); ++i) {
                line += i == 0 ? "\"" : ", \"";
                line += one_line(rows[i]);
                line += '"';
            }
            return;
        }
        case LogPart::Kind::Hex:
            for (const char c : part.text()) {
                const auto byte = static_cast<unsigned char>(c);
                line.push_back(HEX_DIGITS[byte >> 4]);
                line.push_back(HEX_DIGITS[byte & 0xF]);
            }
            return;
        case LogPart::Kind::Error: line += one_line(static_cast<const SetupError*>(part.object())->text()); return;
    }
}

}  // namespace

void set_run_log_sink(RunLogSink sink, OsErrorText os_error_text) noexcept {
    current_sink = sink;
    current_os_error_text = os_error_text;
}

bool run_log_enabled() noexcept {
    return current_sink != nullptr;
}

void log_event(std::string_view topic, std::initializer_list<LogPart> parts) {
    if (current_sink != nullptr) current_sink(topic, compose(parts));
}

std::string compose(std::initializer_list<LogPart> parts) {
    std::string line;
    for (const LogPart& part : parts) append_part(line, part);
    return line;
}

std::string one_line(std::string_view text) {
    const std::string valid = utf16_to_utf8(utf8_to_utf16(text));
    std::string line;
    line.reserve(valid.size());
    for (const char c : valid) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            line += "\\x";
            line.push_back(HEX_DIGITS[byte >> 4]);
            line.push_back(HEX_DIGITS[byte & 0xF]);
        } else {
            line.push_back(c);
        }
    }
    return line;
}

std::string utc_timestamp(std::uint64_t filetime) {
    const std::uint64_t unix_milliseconds = (filetime - UNIX_EPOCH_AS_FILETIME) / 10'000;
    const std::uint64_t milliseconds = unix_milliseconds % 1000;
    const std::uint64_t seconds = unix_milliseconds / 1000;
    // The civil date of a day number (Howard Hinnant's days_from_civil, run backwards).
    const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) + 719468;
    const std::int64_t era = days / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

    std::string text;
    append_padded(text, static_cast<std::uint64_t>(year), 4);
    text += '-';
    append_padded(text, static_cast<std::uint64_t>(month));
    text += '-';
    append_padded(text, static_cast<std::uint64_t>(day));
    text += 'T';
    append_padded(text, seconds % 86400 / 3600);
    text += ':';
    append_padded(text, seconds % 3600 / 60);
    text += ':';
    append_padded(text, seconds % 60);
    text += '.';
    append_padded(text, milliseconds, 3);
    text += 'Z';
    return text;
}

}  // namespace mirel
