// A test-only stand-in for Windows PowerShell's signature check, for Wine prefixes (whose own
// powershell.exe is a stub that exits 0 for anything). It accepts exactly the invocation that the
// setup program makes and then verifies the Authenticode signature for real.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirel::verifier {

// Process exit codes. 0 and 1 are what the signature script itself returns; the rest tell a
// test which part of the invocation was wrong.
enum ExitCode : int {
  VALID_MICROSOFT_SIGNATURE = 0,
  SIGNATURE_REJECTED = 1,
  COMMAND_LINE_UNREADABLE = 10,
  WRONG_ARGUMENT_COUNT = 11,
  WRONG_SWITCHES = 12,
  WRONG_SCRIPT = 13,
  UNSAFE_FILE_PATH = 14,
  MODULE_PATH_MISSING = 15,
  MODULE_PATH_WRONG = 16,
  MODULE_PATH_REPEATED = 17,
  OWN_PATH_UNKNOWN = 18,
  TRUST_ROOT_USAGE = 20,
  TRUST_ROOT_UNREADABLE = 21,
  TRUST_ROOT_NOT_ADDED = 22,
};

// The script text that the setup program passes after "-Command".
inline constexpr std::wstring_view SIGNATURE_SCRIPT =
    L"& { param($p) $s=Get-AuthenticodeSignature -LiteralPath $p; if ($s.Status -ne 'Valid' -or "
    L"$s.SignerCertificate.Subject -notmatch '(^|,\\s*)O=Microsoft Corporation(,|$)') { exit 1 }; "
    L"exit 0 }";

struct Verdict {
  int code;
  std::wstring reason;  // empty on success
};

// Checks the argument list (without the program name) and the environment block entries
// ("NAME=value" strings). own_path is this program's path; the module directory is its parent
// joined with "Modules".
Verdict check_invocation(const std::vector<std::wstring>& arguments,
                         const std::vector<std::wstring>& environment, std::wstring_view own_path);

// The file path PowerShell binds to the script's $p from the last argument: a single-quoted
// PowerShell string (quote characters doubled inside) is read as a literal; a bare argument is
// taken as it is unless PowerShell would split or interpret it. Nothing when the path would not
// arrive intact.
std::optional<std::wstring> file_path_argument(std::wstring_view argument);

// The script's subject test, '(^|,\s*)O=Microsoft Corporation(,|$)' under PowerShell's
// case-insensitive -notmatch.
bool subject_names_microsoft(std::wstring_view subject);

// True when two directory paths name the same directory the way Windows reads them: '/' and '\'
// are the same separator and letter case does not matter; nothing else is normalised.
bool same_directory(std::wstring_view left, std::wstring_view right);

// Verifies the Authenticode signature, the chain to a trusted root and the signer's organisation.
Verdict verify_file(const std::wstring& path);

// Adds a PEM or DER certificate to the LocalMachine "Root" store.
Verdict trust_root(const std::wstring& certificate_path);

}  // namespace mirel::verifier
