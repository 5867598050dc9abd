#include "common/fault_seam.hpp"

#include <cstdlib>
#include <cstring>
#include <cwchar>

// Everything here calls the system directly: the seam must not see its own calls. Nothing here
// allocates, since the seam also stands in front of allocation.

namespace mirel::fault {
namespace {

enum class Mode { Unread, Off, Count, Fail, Kill };

struct Plan {
    Mode mode = Mode::Unread;
    char name[64] = {};
    std::uint64_t call = 0;
    DWORD error = 0;
    wchar_t report[1024] = {};
};

struct Tally {
    const char* name = nullptr;
    std::uint64_t calls = 0;
};

Plan plan;
Tally tallies[160];
std::size_t tally_count = 0;
bool dealt = false;

bool is_space(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The next blank-separated word of `text` from `at`, as ASCII into `word`; false when there is none
// or it does not fit.
bool next_word(const wchar_t* text, std::size_t& at, char* word, std::size_t size) {
    while (is_space(text[at])) ++at;
    std::size_t length = 0;
    for (; text[at] != L'\0' && !is_space(text[at]); ++at) {
        if (length + 1 >= size || text[at] > 0x7E) return false;
        word[length++] = static_cast<char>(text[at]);
    }
    word[length] = '\0';
    return length > 0;
}

bool parse_number(const char* word, std::uint64_t& value) {
    const bool hex = word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    char* end = nullptr;
    value = std::strtoull(hex ? word + 2 : word, &end, hex ? 16 : 10);
    return end != nullptr && *end == '\0' && end != word;
}

// Appends `text` to the report file.
void report(const char* text) {
    const HANDLE file = ::CreateFileW(plan.report, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    ::CloseHandle(file);
}

// "NAME N\n" into `line`, which holds at least 96 characters.
void format_line(char* line, const char* prefix, const char* name, std::uint64_t number) {
    std::strcpy(line, prefix);
    std::strncat(line, name, 63);
    std::strcat(line, " ");
    char digits[24];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    std::size_t end = std::strlen(line);
    while (count > 0) line[end++] = digits[--count];
    line[end++] = '\n';
    line[end] = '\0';
}

void write_counts() {
    char line[96];
    for (std::size_t i = 0; i < tally_count; ++i) {
        format_line(line, "", tallies[i].name, tallies[i].calls);
        report(line);
    }
}

void read_plan() {
    plan.mode = Mode::Off;
    wchar_t text[1200];
    const DWORD length = ::GetEnvironmentVariableW(L"MIREL_FAULT", text, 1200);
    if (length == 0 || length >= 1200) return;
    std::size_t at = 0;
    char mode[8];
    if (!next_word(text, at, mode, sizeof mode)) return;
    Plan read;
    if (std::strcmp(mode, "count") == 0) {
        read.mode = Mode::Count;
    } else if (std::strcmp(mode, "fail") == 0 || std::strcmp(mode, "kill") == 0) {
        read.mode = mode[0] == 'f' ? Mode::Fail : Mode::Kill;
        char word[24];
        std::uint64_t error = 0;
        if (!next_word(text, at, read.name, sizeof read.name) || !next_word(text, at, word, sizeof word) ||
            !parse_number(word, read.call) || read.call == 0)
            return;
        if (read.mode == Mode::Fail) {
            if (!next_word(text, at, word, sizeof word) || !parse_number(word, error)) return;
            read.error = static_cast<DWORD>(error);
        }
    } else {
        return;
    }
    while (is_space(text[at])) ++at;
    if (text[at] == L'\0') return;
    std::wcscpy(read.report, text + at);
    plan = read;
    if (plan.mode == Mode::Count) std::atexit(write_counts);
}

Tally* tally_of(const char* name) {
    for (std::size_t i = 0; i < tally_count; ++i) {
        if (std::strcmp(tallies[i].name, name) == 0) return &tallies[i];
    }
    if (tally_count == sizeof tallies / sizeof tallies[0]) return nullptr;
    tallies[tally_count].name = name;
    return &tallies[tally_count++];
}

}  // namespace

std::optional<DWORD> strike(const char* name) noexcept {
    const DWORD kept = ::GetLastError();
    if (plan.mode == Mode::Unread) read_plan();
    std::optional<DWORD> error;
    Tally* tally = plan.mode == Mode::Off ? nullptr : tally_of(name);
    if (tally != nullptr && ++tally->calls == plan.call && !dealt && std::strcmp(name, plan.name) == 0) {
        dealt = true;
        char line[96];
        format_line(line, "struck ", name, tally->calls);
        report(line);
        if (plan.mode == Mode::Kill) ::TerminateProcess(::GetCurrentProcess(), KILLED_EXIT_CODE);
        error = plan.error;
    }
    ::SetLastError(kept);
    return error;
}

}  // namespace mirel::fault
