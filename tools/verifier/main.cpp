// mirel-test-verifier: installed as powershell.exe in Wine test prefixes (tools/install-verifier).
//   powershell.exe -NoProfile -NonInteractive -Command SCRIPT FILE   verify FILE's signature
//   powershell.exe --trust-root CERTIFICATE                          trust a test root
// Exit codes: see ExitCode in signature_verifier.hpp.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "signature_verifier.hpp"

namespace {

using mirel::verifier::Verdict;

std::string utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

// The setup program starts the verifier without a console or inherited handles, so a test that
// wants to know why a signature was refused names a log file in MIREL_TEST_VERIFIER_LOG: each
// run appends its exit code, its reason and its command line.
void append_to_log(const Verdict& verdict) {
  std::wstring log_path(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"MIREL_TEST_VERIFIER_LOG", log_path.data(),
                                               static_cast<DWORD>(log_path.size()));
  if (length == 0 || length >= log_path.size()) {
    return;
  }
  log_path.resize(length);
  HANDLE log = CreateFileW(log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) {
    return;
  }
  const std::string line = utf8(L"exit " + std::to_wstring(verdict.code) + L": " +
                                (verdict.reason.empty() ? L"valid" : verdict.reason) + L" (" +
                                GetCommandLineW() + L")\n");
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
}

void report(const Verdict& verdict) {
  append_to_log(verdict);
  if (verdict.reason.empty()) {
    return;
  }
  const std::string bytes = utf8(L"mirel-test-verifier: " + verdict.reason + L"\n");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

std::vector<std::wstring> environment_entries() {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) {
    return entries;
  }
  for (const wchar_t* entry = block; *entry != L'\0'; entry += entries.back().size() + 1) {
    entries.emplace_back(entry);
  }
  FreeEnvironmentStringsW(block);
  return entries;
}

std::wstring own_path() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) {
    return {};
  }
  path.resize(length);
  return path;
}

int run() {
  // The real command line, read the way the setup program's quoting is meant to be read.
  int count = 0;
  wchar_t** raw = CommandLineToArgvW(GetCommandLineW(), &count);
  if (raw == nullptr || count < 1) {
    Verdict verdict{mirel::verifier::COMMAND_LINE_UNREADABLE, L"CommandLineToArgvW failed"};
    report(verdict);
    return verdict.code;
  }
  std::vector<std::wstring> arguments(raw + 1, raw + count);
  LocalFree(raw);

  if (!arguments.empty() && arguments[0] == L"--trust-root") {
    Verdict verdict = arguments.size() == 2 ? mirel::verifier::trust_root(arguments[1])
                                            : Verdict{mirel::verifier::TRUST_ROOT_USAGE,
                                                      L"usage: --trust-root CERTIFICATE"};
    report(verdict);
    return verdict.code;
  }

  Verdict verdict = mirel::verifier::check_invocation(arguments, environment_entries(), own_path());
  if (verdict.code == mirel::verifier::VALID_MICROSOFT_SIGNATURE) {
    verdict = mirel::verifier::verify_file(*mirel::verifier::file_path_argument(arguments[4]));
  }
  report(verdict);
  return verdict.code;
}

}  // namespace

int wmain() { return run(); }
