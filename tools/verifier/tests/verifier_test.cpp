// The stand-in verifier, tested in-process for its rules and as a child process, run exactly as the
// setup program runs Windows PowerShell, on real files signed with the test PKI.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "signature_verifier.hpp"
#include "wine_files.hpp"

namespace mirel::verifier {
namespace {

namespace fs = std::filesystem;

// --- the subject rule ------------------------------------------------------------------------

TEST(SubjectRule, AcceptsTheOrganisationAsAWholeComponentAnywhere) {
  for (const wchar_t* subject : {
           L"CN=Signing, O=Microsoft Corporation, L=Redmond, S=Washington, C=US",
           L"O=Microsoft Corporation", L"O=Microsoft Corporation, CN=Signing",
           L"CN=Signing, O=Microsoft Corporation", L"CN=Signing,O=Microsoft Corporation,C=US",
           L"CN=Signing,\t \u00A0O=Microsoft Corporation",
           L"cn=signing, o=MICROSOFT corporation",  // PowerShell's -notmatch ignores case
       }) {
    EXPECT_TRUE(subject_names_microsoft(subject)) << testing::PrintToString(std::wstring(subject));
  }
}

TEST(SubjectRule, RejectsOtherOrganisationsAndPartialComponents) {
  for (const wchar_t* subject : {
           L"",
           L"CN=Signing, O=Oruvan Test Org, C=US",
           L"CN=Signing, O=Microsoft Corporation Extra, C=US",
           L"CN=Signing, O=Microsoft CorporationX",
           L"CN=Signing, O=Microsoft Corp",
           L"CN=Signing, OU=Microsoft Corporation, C=US",
           L"CN=O=Microsoft Corporation",
           L"CN=Signing O=Microsoft Corporation",
           L" O=Microsoft Corporation",
           L"CN=Signing, O=\"Microsoft Corporation\"",
           L"CN=Signing, O=Microsoft Corporation ",
       }) {
    EXPECT_FALSE(subject_names_microsoft(subject)) << testing::PrintToString(std::wstring(subject));
  }
}

// --- the invocation rule ---------------------------------------------------------------------

constexpr std::wstring_view OWN_PATH =
    L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";
constexpr const wchar_t* MODULE_ENTRY =
    L"PSModulePath=C:\\windows\\system32\\WindowsPowerShell/v1.0\\Modules";
constexpr const wchar_t* FILE_PATH = L"C:\\users\\me\\Temp\\MirelSetup-12-34-0\\webview.exe";

std::vector<std::wstring> good_arguments() {
  return {L"-NoProfile", L"-NonInteractive", L"-Command", std::wstring(SIGNATURE_SCRIPT),
          FILE_PATH};
}

int invocation_code(const std::vector<std::wstring>& arguments,
                    const std::vector<std::wstring>& environment) {
  return check_invocation(arguments, environment, OWN_PATH).code;
}

TEST(InvocationRule, TheScriptIsTheExact189Characters) {
  EXPECT_EQ(SIGNATURE_SCRIPT.size(), 189u);
  EXPECT_EQ(SIGNATURE_SCRIPT.substr(SIGNATURE_SCRIPT.size() - 8), L"exit 0 }");
  EXPECT_NE(SIGNATURE_SCRIPT.find(L"'(^|,\\s*)O=Microsoft Corporation(,|$)'"),
            std::wstring_view::npos);
}

TEST(InvocationRule, AcceptsTheSetupProgramsInvocation) {
  EXPECT_EQ(invocation_code(good_arguments(), {L"=C:=C:\\", L"PATH=C:\\windows", MODULE_ENTRY}),
            VALID_MICROSOFT_SIGNATURE);
  // The same directory as Windows reads it: either separator, any letter case.
  EXPECT_EQ(
      invocation_code(good_arguments(),
                      {L"PSMODULEPATH=c:\\WINDOWS\\System32\\WindowsPowerShell\\v1.0\\Modules"}),
      VALID_MICROSOFT_SIGNATURE);
}

TEST(InvocationRule, RejectsAnyOtherArgumentList) {
  auto arguments = good_arguments();
  const std::vector<std::wstring> environment{MODULE_ENTRY};
  EXPECT_EQ(invocation_code({}, environment), WRONG_ARGUMENT_COUNT);
  arguments.pop_back();
  EXPECT_EQ(invocation_code(arguments, environment), WRONG_ARGUMENT_COUNT);
  arguments = good_arguments();
  arguments.push_back(L"extra");
  EXPECT_EQ(invocation_code(arguments, environment), WRONG_ARGUMENT_COUNT);

  for (std::size_t index = 0; index < 3; ++index) {
    arguments = good_arguments();
    arguments[index] = index == 0 ? L"-noprofile" : index == 1 ? L"-NonInteractiv" : L"-File";
    EXPECT_EQ(invocation_code(arguments, environment), WRONG_SWITCHES) << index;
  }
  arguments = good_arguments();
  std::swap(arguments[0], arguments[1]);
  EXPECT_EQ(invocation_code(arguments, environment), WRONG_SWITCHES);
}

TEST(InvocationRule, RejectsAnyChangeToTheScript) {
  const std::vector<std::wstring> environment{MODULE_ENTRY};
  std::wstring script(SIGNATURE_SCRIPT);
  for (const std::wstring& changed : {
           script + L" ",
           script.substr(0, script.size() - 1),
           std::wstring(script).replace(script.find(L"\\s"), 2,
                                        L"s"),  // the backslash lost in quoting
           std::wstring(script).replace(script.find(L"'Valid'"), 7, L"'valid'"),
       }) {
    auto arguments = good_arguments();
    arguments[3] = changed;
    EXPECT_EQ(invocation_code(arguments, environment), WRONG_SCRIPT);
  }
}

TEST(InvocationRule, RejectsAPathThatPowerShellWouldSplitOrInterpret) {
  const std::vector<std::wstring> environment{MODULE_ENTRY};
  for (const wchar_t* path :
       {L"", L"C:\\Users\\John Smith\\webview.exe", L"C:\\a\tb\\webview.exe",
        L"C:\\Users\\$(calc)\\webview.exe", L"C:\\Users\\O'Brien\\webview.exe",
        L"C:\\a,b\\webview.exe", L"C:\\a&b\\webview.exe", L"@C:\\webview.exe"}) {
    auto arguments = good_arguments();
    arguments[4] = path;
    EXPECT_EQ(invocation_code(arguments, environment), UNSAFE_FILE_PATH)
        << testing::PrintToString(std::wstring(path));
  }
}

TEST(InvocationRule, ReadsAQuotedPowerShellLiteralAsThePath) {
  EXPECT_EQ(file_path_argument(L"'C:\\Users\\John Smith\\webview.exe'"), L"C:\\Users\\John Smith\\webview.exe");
  EXPECT_EQ(file_path_argument(L"'C:\\O''Brien $(calc)\\w.exe'"), L"C:\\O'Brien $(calc)\\w.exe");
  EXPECT_EQ(file_path_argument(L"'a\u2019\u2019b'"), L"a\u2019b");
  EXPECT_EQ(file_path_argument(L"C:\\plain\\w.exe"), L"C:\\plain\\w.exe");
  for (const wchar_t* broken : {L"'", L"''", L"'a'b'", L"'unterminated", L"'a' '", L"'a\u2018b'"}) {
    EXPECT_FALSE(file_path_argument(broken)) << testing::PrintToString(std::wstring(broken));
  }
}

TEST(InvocationRule, RequiresTheModuleDirectoryOnceAndExactly) {
  EXPECT_EQ(invocation_code(good_arguments(), {}), MODULE_PATH_MISSING);
  EXPECT_EQ(invocation_code(good_arguments(), {L"PSModulePathX=C:\\x"}), MODULE_PATH_MISSING);
  EXPECT_EQ(invocation_code(good_arguments(), {MODULE_ENTRY, L"psmodulepath=C:\\old"}),
            MODULE_PATH_REPEATED);
  for (const wchar_t* entry : {
           L"PSModulePath=",
           L"PSModulePath=C:\\Program Files\\WindowsPowerShell\\Modules",
           L"PSModulePath=C:\\windows\\system32\\WindowsPowerShell\\v1.0\\Modules\\",
           L"PSModulePath=C:\\windows\\system32\\WindowsPowerShell\\v1.0\\Modules;C:\\x",
           L"PSModulePath=C:\\windows\\system32\\WindowsPowerShell\\v1.0",
       }) {
    EXPECT_EQ(invocation_code(good_arguments(), {entry}), MODULE_PATH_WRONG)
        << testing::PrintToString(std::wstring(entry));
  }
  EXPECT_EQ(check_invocation(good_arguments(), {MODULE_ENTRY}, L"powershell.exe").code,
            OWN_PATH_UNKNOWN);
}

// --- the verifier as a child process ---------------------------------------------------------

struct Outcome {
  DWORD code = 0xFFFFFFFF;
  std::string output;
};

class VerifierProcess : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto from_environment = [](const char* name) {
      const char* value = std::getenv(name);
      return value == nullptr ? std::wstring() : wine_test::windows_path(value);
    };
    verifier_ = from_environment("MIREL_TEST_VERIFIER");
    inputs_ = from_environment("MIREL_TEST_INPUTS");
    unsigned_ = from_environment("MIREL_TEST_UNSIGNED");
    scratch_ = inputs_ + L"\\scratch-" + std::to_wstring(GetCurrentProcessId());
    fs::create_directories(scratch_);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }
  void SetUp() override {
    ASSERT_FALSE(verifier_.empty()) << "MIREL_TEST_VERIFIER must name the verifier";
    ASSERT_FALSE(inputs_.empty()) << "MIREL_TEST_INPUTS must name the signed inputs' folder";
  }

  static std::wstring signed_input(const wchar_t* leaf) {
    return inputs_ + L"\\signed-" + leaf + L".exe";
  }
  static std::wstring module_entry_for(const std::wstring& program) {
    return L"PSModulePath=" + program.substr(0, program.find_last_of(L"\\/")) + L"\\Modules";
  }

  // Runs program with the given arguments; the environment is this process's own without any
  // PSModulePath, plus extra ("NAME=VALUE" entries).
  static Outcome run(const std::wstring& program, const std::vector<std::wstring>& arguments,
                     const std::vector<std::wstring>& extra) {
    wine_test::LaunchRequest request;
    request.program = program;
    request.arguments = arguments;
    request.removed_environment = {L"PSModulePath"};
    for (const std::wstring& entry : extra) {
      request.environment.emplace_back(entry.substr(0, entry.find(L'=')), entry.substr(entry.find(L'=') + 1));
    }
    request.capture_standard_output = request.capture_standard_error = true;
    const auto process = wine_test::start_process(request);
    if (!process) return {};
    Outcome outcome;
    outcome.code = process->wait_for_exit(60000).value_or(outcome.code);
    outcome.output = process->standard_output() + process->standard_error();
    return outcome;
  }

  static Outcome verify(const std::wstring& file) {
    return run(
        verifier_,
        {L"-NoProfile", L"-NonInteractive", L"-Command", std::wstring(SIGNATURE_SCRIPT), file},
        {module_entry_for(verifier_)});
  }

  // A copy of a signed input with one byte changed at an offset chosen from its PE layout.
  enum class Damage { Code, Signature };
  static std::wstring damaged_copy(const wchar_t* leaf, Damage damage) {
    std::ifstream in(fs::path(signed_input(leaf)), std::ios::binary);
    std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    const auto u32 = [&](std::size_t at) {
      return static_cast<std::uint32_t>(bytes.at(at) | bytes.at(at + 1) << 8 |
                                        bytes.at(at + 2) << 16 | bytes.at(at + 3) << 24);
    };
    const std::size_t pe = u32(0x3C);
    const std::size_t optional = pe + 24;
    const std::size_t optional_size = bytes.at(pe + 20) | bytes.at(pe + 21) << 8;
    std::size_t offset = 0;
    if (damage == Damage::Code) {
      offset = u32(optional + optional_size + 20) + 1;  // the first section's raw data
    } else {
      // The security directory of a PE32+ header points at WIN_CERTIFICATE { length, revision,
      // type, PKCS#7 }; the signer's RSA signature value is the end of the PKCS#7 DER.
      const std::size_t table = u32(optional + 144);
      const std::size_t der = table + 8;
      EXPECT_EQ(bytes.at(der), 0x30);
      EXPECT_EQ(bytes.at(der + 1), 0x82);
      const std::size_t der_size = 4 + (bytes.at(der + 2) << 8 | bytes.at(der + 3));
      offset = der + der_size - 16;
    }
    bytes.at(offset) ^= 0x01;
    const std::wstring path = scratch_ + L"\\damaged-" + leaf +
                              (damage == Damage::Code ? L"-code" : L"-signature") + L".exe";
    std::ofstream out(fs::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static inline std::wstring verifier_;
  static inline std::wstring inputs_;
  static inline std::wstring unsigned_;
  static inline std::wstring scratch_;
};

TEST_F(VerifierProcess, AcceptsOnlyAnUnchangedMicrosoftSignatureFromTheTrustedRoot) {
  const struct {
    std::wstring file;
    DWORD code;
    const char* reason;
  } cases[] = {
      {signed_input(L"microsoft"), 0, ""},
      {signed_input(L"microsoft-last"), 0, ""},
      {unsigned_, 1, "WinVerifyTrust failed"},
      {scratch_ + L"\\no-such-file.exe", 1, "WinVerifyTrust failed"},
      {damaged_copy(L"microsoft", Damage::Code), 1, "WinVerifyTrust failed"},
      {damaged_copy(L"microsoft", Damage::Signature), 1, "WinVerifyTrust failed"},
      {signed_input(L"other-org"), 1,
       "not Microsoft Corporation: CN=Mirel Test Other Org Signing (test only), O=Oruvan Test Org"},
      {signed_input(L"microsoft-extra"), 1,
       "not Microsoft Corporation: CN=Mirel Test Extra Signing (test only), O=Microsoft Corporation "
       "Extra"},
      {signed_input(L"untrusted-microsoft"), 1, "chain is not trusted"},
  };
  for (const auto& item : cases) {
    const Outcome outcome = verify(item.file);
    EXPECT_EQ(outcome.code, item.code) << testing::PrintToString(item.file) << outcome.output;
    EXPECT_NE(outcome.output.find(item.reason), std::string::npos) << outcome.output;
  }
}

TEST_F(VerifierProcess, ReadsAFileThatTheCallerHoldsSharedForReadingOnly) {
  const std::wstring path = signed_input(L"microsoft");
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Outcome outcome = verify(path);
  CloseHandle(held);
  EXPECT_EQ(outcome.code, 0u) << outcome.output;
}

TEST_F(VerifierProcess, RefusesAWrongInvocationBeforeLookingAtTheFile) {
  const std::wstring good = signed_input(L"microsoft");
  const std::wstring script(SIGNATURE_SCRIPT);
  const std::wstring modules = module_entry_for(verifier_);
  struct Case {
    std::vector<std::wstring> arguments;
    std::vector<std::wstring> environment;
    DWORD code;
  };
  const Case cases[] = {
      {{}, {modules}, WRONG_ARGUMENT_COUNT},
      {{L"-NoProfile", L"-NonInteractive", L"-Command", script}, {modules}, WRONG_ARGUMENT_COUNT},
      {{L"-NoProfile", L"-NonInteractive", L"-Command", script, good, good},
       {modules},
       WRONG_ARGUMENT_COUNT},
      {{L"-NoProfile", L"-Command", L"-NonInteractive", script, good}, {modules}, WRONG_SWITCHES},
      {{L"-NoProfile", L"-NonInteractive", L"-Command", script + L" ", good},
       {modules},
       WRONG_SCRIPT},
      {{L"-NoProfile", L"-NonInteractive", L"-Command", script, good}, {}, MODULE_PATH_MISSING},
      {{L"-NoProfile", L"-NonInteractive", L"-Command", script, good},
       {L"PSModulePath=C:\\Program Files\\WindowsPowerShell\\Modules"},
       MODULE_PATH_WRONG},
      {{L"-NoProfile", L"-NonInteractive", L"-Command", script, good},
       {modules, L"PSMODULEPATH=C:\\old"},
       MODULE_PATH_REPEATED},
      {{L"--trust-root"}, {}, TRUST_ROOT_USAGE},
      {{L"--trust-root", scratch_ + L"\\no-such.pem"}, {}, TRUST_ROOT_UNREADABLE},
  };
  for (const Case& item : cases) {
    EXPECT_EQ(run(verifier_, item.arguments, item.environment).code, item.code)
        << testing::PrintToString(item.arguments);
  }
}

// The copy that tools/install-verifier put in place of powershell.exe, started the way the setup
// program starts it: the system directory joined with a relative part written with slashes.
TEST_F(VerifierProcess, InstalledCopyAnswersTheSetupProgramsInvocation) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring program = std::wstring(system) + L"\\WindowsPowerShell/v1.0/powershell.exe";
  const std::wstring modules =
      L"PSModulePath=" + std::wstring(system) + L"\\WindowsPowerShell/v1.0\\Modules";
  const std::vector<std::wstring> prefix{L"-NoProfile", L"-NonInteractive", L"-Command",
                                         std::wstring(SIGNATURE_SCRIPT)};
  auto with = [&](const std::wstring& file) {
    auto arguments = prefix;
    arguments.push_back(file);
    return arguments;
  };
  Outcome outcome = run(program, with(signed_input(L"microsoft")), {modules});
  EXPECT_EQ(outcome.code, 0u) << outcome.output;
  outcome = run(program, with(signed_input(L"other-org")), {modules});
  EXPECT_EQ(outcome.code, 1u) << outcome.output;
  outcome = run(program, with(signed_input(L"microsoft")), {module_entry_for(verifier_)});
  EXPECT_EQ(outcome.code, static_cast<DWORD>(MODULE_PATH_WRONG)) << outcome.output;
}

}  // namespace
}  // namespace mirel::verifier

