#include "signature_verifier.hpp"

// windows.h first: the cryptography headers rely on its types.
#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>

namespace mirel::verifier {
namespace {

constexpr std::wstring_view MODULE_PATH_NAME = L"PSModulePath";
constexpr std::wstring_view ORGANISATION = L"O=Microsoft Corporation";

wchar_t ascii_lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool equal_ignoring_ascii_case(std::wstring_view left, std::wstring_view right) {
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(),
                    [](wchar_t a, wchar_t b) { return ascii_lower(a) == ascii_lower(b); });
}

// .NET's \s: the ASCII controls 9 to 13, U+0085 and the Unicode separators.
bool regex_white_space(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Windows PowerShell joins everything after "-Command" with spaces and parses it again, so the
// file path is a bare word in argument mode: white space splits it, and these characters change
// its meaning (variables, subexpressions, quoting, operators). A path holding any of them would
// not reach the script as $p, so the real check would fail or run something else.
bool powershell_would_reparse(std::wstring_view path) {
  constexpr std::wstring_view special =
      L"`$'\"&(){};,|<>\u2018\u2019\u201A\u201B\u201C\u201D\u201E";
  if (path.empty() || path.front() == L'@' || path.front() == L'#' || path.front() == L'-' ||
      path.front() == L'\u2013' || path.front() == L'\u2014') {
    return true;
  }
  return std::any_of(path.begin(), path.end(), [&](wchar_t c) {
    return regex_white_space(c) || special.find(c) != std::wstring_view::npos;
  });
}

// The four characters that open and close a single-quoted PowerShell string.
bool is_single_quote(wchar_t c) { return c == L'\'' || (c >= L'\u2018' && c <= L'\u201B'); }

std::wstring parent_directory(std::wstring_view path) {
  const auto separator = path.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos || separator == 0) {
    return {};
  }
  return std::wstring(path.substr(0, separator));
}

std::wstring hresult_text(LONG code) {
  std::array<wchar_t, 16> text{};
  std::swprintf(text.data(), text.size(), L"0x%08lX", static_cast<unsigned long>(code));
  return text.data();
}

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct MessageCloser {
  void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
struct CertificateCloser {
  void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
struct ChainCloser {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueStore = std::unique_ptr<void, StoreCloser>;
using UniqueMessage = std::unique_ptr<void, MessageCloser>;
using UniqueCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateCloser>;
using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainCloser>;
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// WinVerifyTrust proves that the signature is well formed and matches the file's digest. Wine's
// implementation accepts a chain to an unknown root, so the chain is judged separately below.
Verdict verify_digest(const std::wstring& path) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (result != ERROR_SUCCESS) {
    return {SIGNATURE_REJECTED, L"WinVerifyTrust failed with " + hresult_text(result)};
  }
  return {VALID_MICROSOFT_SIGNATURE, {}};
}

struct Signer {
  UniqueStore store;
  UniqueMessage message;
  UniqueCertificate certificate;
};

Verdict find_signer(const std::wstring& path, Signer& signer) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, nullptr, nullptr, nullptr, &store, &message, nullptr)) {
    return {SIGNATURE_REJECTED, L"no embedded signature could be read"};
  }
  signer.store.reset(store);
  signer.message.reset(message);
  DWORD size = 0;
  if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) {
    return {SIGNATURE_REJECTED, L"the signature has no signer"};
  }
  std::vector<unsigned char> buffer(size);
  if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
    return {SIGNATURE_REJECTED, L"the signature has no signer"};
  }
  const auto* info = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
  CERT_INFO wanted{};
  wanted.Issuer = info->Issuer;
  wanted.SerialNumber = info->SerialNumber;
  signer.certificate.reset(CertFindCertificateInStore(
      store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!signer.certificate) {
    return {SIGNATURE_REJECTED, L"the signer's certificate is not in the signature"};
  }
  return {VALID_MICROSOFT_SIGNATURE, {}};
}

// The chain must end in a trusted root, be valid now, and allow code signing; revocation is not
// checked (a test PKI has no revocation service, and PowerShell's default does not require it).
Verdict verify_chain(const Signer& signer) {
  LPSTR code_signing = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof(parameters);
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = &code_signing;
  PCCERT_CHAIN_CONTEXT raw_chain = nullptr;
  if (!CertGetCertificateChain(nullptr, signer.certificate.get(), nullptr, signer.store.get(),
                               &parameters, 0, nullptr, &raw_chain)) {
    return {SIGNATURE_REJECTED, L"no certificate chain could be built"};
  }
  const UniqueChain chain(raw_chain);
  const DWORD errors = chain->TrustStatus.dwErrorStatus;
  if (errors != CERT_TRUST_NO_ERROR) {
    return {SIGNATURE_REJECTED, L"the certificate chain is not trusted: error status " +
                                    hresult_text(static_cast<LONG>(errors))};
  }
  return {VALID_MICROSOFT_SIGNATURE, {}};
}

// The subject as .NET's X509Certificate.Subject shows it: X.500 form, last component first.
std::wstring subject_text(PCCERT_CONTEXT certificate) {
  const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  CERT_NAME_BLOB* name = &certificate->pCertInfo->Subject;
  const DWORD length = CertNameToStrW(X509_ASN_ENCODING, name, flags, nullptr, 0);
  std::wstring text(length, L'\0');
  CertNameToStrW(X509_ASN_ENCODING, name, flags, text.data(), length);
  if (!text.empty()) {
    text.pop_back();  // the terminator counted by CertNameToStrW
  }
  return text;
}

bool read_whole_file(const std::wstring& path, std::vector<unsigned char>& bytes) {
  HANDLE raw = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    return false;
  }
  const UniqueHandle file(raw);
  std::array<unsigned char, 4096> chunk{};
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
      return false;
    }
    if (read == 0) {
      return true;
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + read);
  }
}

}  // namespace

bool subject_names_microsoft(std::wstring_view subject) {
  for (std::size_t start = 0; start + ORGANISATION.size() <= subject.size(); ++start) {
    bool anchored = start == 0;
    if (!anchored) {
      std::size_t before = start;
      while (before > 0 && regex_white_space(subject[before - 1])) {
        --before;
      }
      anchored = before > 0 && subject[before - 1] == L',';
    }
    if (!anchored ||
        !equal_ignoring_ascii_case(subject.substr(start, ORGANISATION.size()), ORGANISATION)) {
      continue;
    }
    const std::size_t end = start + ORGANISATION.size();
    // .NET's '$' also matches before one final line feed.
    if (end == subject.size() || subject[end] == L',' ||
        (end + 1 == subject.size() && subject[end] == L'\n')) {
      return true;
    }
  }
  return false;
}

bool same_directory(std::wstring_view left, std::wstring_view right) {
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(), [](wchar_t a, wchar_t b) {
           const auto fold = [](wchar_t c) { return c == L'/' ? L'\\' : ascii_lower(c); };
           return fold(a) == fold(b);
         });
}

Verdict check_invocation(const std::vector<std::wstring>& arguments,
                         const std::vector<std::wstring>& environment, std::wstring_view own_path) {
  if (arguments.size() != 5) {
    return {WRONG_ARGUMENT_COUNT, L"expected -NoProfile -NonInteractive -Command SCRIPT FILE"};
  }
  if (arguments[0] != L"-NoProfile" || arguments[1] != L"-NonInteractive" ||
      arguments[2] != L"-Command") {
    return {WRONG_SWITCHES, L"expected -NoProfile -NonInteractive -Command first"};
  }
  if (arguments[3] != SIGNATURE_SCRIPT) {
    return {WRONG_SCRIPT, L"the signature script differs"};
  }
  if (!file_path_argument(arguments[4])) {
    return {UNSAFE_FILE_PATH,
            L"Windows PowerShell would not pass this path intact: " + arguments[4]};
  }

  const std::wstring parent = parent_directory(own_path);
  if (parent.empty()) {
    return {OWN_PATH_UNKNOWN, L"this program's own directory is unknown"};
  }
  const std::wstring module_directory = parent + L"\\Modules";
  const std::wstring* module_path = nullptr;
  for (const std::wstring& entry : environment) {
    // Entries such as "=C:=C:\\" name the current directory of a drive, never a variable.
    const auto equals = entry.find(L'=', 1);
    if (equals == std::wstring::npos ||
        !equal_ignoring_ascii_case(std::wstring_view(entry).substr(0, equals), MODULE_PATH_NAME)) {
      continue;
    }
    if (module_path != nullptr) {
      return {MODULE_PATH_REPEATED, L"PSModulePath is set more than once"};
    }
    module_path = &entry;
  }
  if (module_path == nullptr) {
    return {MODULE_PATH_MISSING, L"PSModulePath is not set"};
  }
  const std::wstring_view value =
      std::wstring_view(*module_path).substr(MODULE_PATH_NAME.size() + 1);
  if (!same_directory(value, module_directory)) {
    return {MODULE_PATH_WRONG,
            L"PSModulePath is " + std::wstring(value) + L", expected " + module_directory};
  }
  return {VALID_MICROSOFT_SIGNATURE, {}};
}

std::optional<std::wstring> file_path_argument(std::wstring_view argument) {
  if (argument.empty() || !is_single_quote(argument.front())) {
    if (powershell_would_reparse(argument)) {
      return std::nullopt;
    }
    return std::wstring(argument);
  }
  if (argument.size() < 2 || !is_single_quote(argument.back())) {
    return std::nullopt;
  }
  std::wstring path;
  const std::wstring_view inside = argument.substr(1, argument.size() - 2);
  for (std::size_t i = 0; i < inside.size(); ++i) {
    if (is_single_quote(inside[i])) {
      // Inside the string a quote stands only doubled; a lone one would end it early.
      if (i + 1 >= inside.size() || !is_single_quote(inside[i + 1])) {
        return std::nullopt;
      }
      ++i;
    }
    path.push_back(inside[i]);
  }
  if (path.empty()) {
    return std::nullopt;
  }
  return path;
}

Verdict verify_file(const std::wstring& path) {
  if (Verdict digest = verify_digest(path); digest.code != VALID_MICROSOFT_SIGNATURE) {
    return digest;
  }
  Signer signer;
  if (Verdict found = find_signer(path, signer); found.code != VALID_MICROSOFT_SIGNATURE) {
    return found;
  }
  if (Verdict chain = verify_chain(signer); chain.code != VALID_MICROSOFT_SIGNATURE) {
    return chain;
  }
  const std::wstring subject = subject_text(signer.certificate.get());
  if (!subject_names_microsoft(subject)) {
    return {SIGNATURE_REJECTED, L"the signer is not Microsoft Corporation: " + subject};
  }
  return {VALID_MICROSOFT_SIGNATURE, {}};
}

Verdict trust_root(const std::wstring& certificate_path) {
  std::vector<unsigned char> bytes;
  if (!read_whole_file(certificate_path, bytes) || bytes.empty()) {
    return {TRUST_ROOT_UNREADABLE, L"cannot read " + certificate_path};
  }
  // CRYPT_STRING_BASE64_ANY takes PEM with or without its header lines; anything else is DER.
  std::vector<unsigned char> der;
  DWORD size = 0;
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  const auto length = static_cast<DWORD>(bytes.size());
  if (CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64_ANY, nullptr, &size, nullptr,
                           nullptr) &&
      size > 0) {
    der.resize(size);
    if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64_ANY, der.data(), &size, nullptr,
                              nullptr)) {
      der.clear();
    }
    der.resize(size);
  }
  if (der.empty()) {
    der = bytes;
  }
  const UniqueStore store(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!store) {
    return {TRUST_ROOT_NOT_ADDED, L"cannot open the LocalMachine Root store"};
  }
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    return {TRUST_ROOT_NOT_ADDED, L"the certificate was not added: error " +
                                      hresult_text(static_cast<LONG>(GetLastError()))};
  }
  return {VALID_MICROSOFT_SIGNATURE, {}};
}

}  // namespace mirel::verifier
