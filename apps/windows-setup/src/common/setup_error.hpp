#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace mirel {

// Every error code the program reports, by subsystem. The user sees only the text.
enum class ErrorCode : std::uint8_t {
    Clock,
    TemporaryDirectory,
    InstallerPayloadMissing,
    InstallerPayloadLocked,
    InstallerPayloadChanged,
    FileProtectionFailed,
    MsiDatabase,
    MsiView,
    MsiExecute,
    MsiRecord,
    MsiString,
    MsiProperty,
    MsiPackageOpen,
    MsiLaunchProperties,
    MsiLaunchPaths,
    MsiLaunchOwnerNotSecure,
    MsiLaunchPackage,
    MsiLaunchOwnerArgument,
    MsiBootstrapperAutoLaunch,
    MsiStandaloneLaunchCondition,
    MsiShortcutUpgradeCleanup,
    MsiLegacyShortcutCleanup,
    InstallerPayloadVersionOrLanguage,
    ProductCode,
    InstallerPayloadLaunchTranslation,
    InstallerRuntimeDownloadForbidden,
    InstallerRuntimePayload,
    InstallerRuntimeSignature,
    SetupIcon,
    UpdateParentInvalid,
    UpdateParentUnavailable,
    UpdateParentBusy,
    InstallLocation,
    InstalledApplication,
    ProgramNotFound,
    NulInArgument,
    RunLogRefused,
};

[[nodiscard]] constexpr std::string_view error_code_text(ErrorCode code) {
    switch (code) {
        case ErrorCode::Clock: return "clock";
        case ErrorCode::TemporaryDirectory: return "temporary_directory";
        case ErrorCode::InstallerPayloadMissing: return "installer_payload_missing";
        case ErrorCode::InstallerPayloadLocked: return "installer_payload_locked";
        case ErrorCode::InstallerPayloadChanged: return "installer_payload_changed";
        case ErrorCode::FileProtectionFailed: return "file_protection_failed";
        case ErrorCode::MsiDatabase: return "msi_database";
        case ErrorCode::MsiView: return "msi_view";
        case ErrorCode::MsiExecute: return "msi_execute";
        case ErrorCode::MsiRecord: return "msi_record";
        case ErrorCode::MsiString: return "msi_string";
        case ErrorCode::MsiProperty: return "msi_property";
        case ErrorCode::MsiPackageOpen: return "msi_package_open";
        case ErrorCode::MsiLaunchProperties: return "msi_launch_properties";
        case ErrorCode::MsiLaunchPaths: return "msi_launch_paths";
        case ErrorCode::MsiLaunchOwnerNotSecure: return "msi_launch_owner_not_secure";
        case ErrorCode::MsiLaunchPackage: return "msi_launch_package";
        case ErrorCode::MsiLaunchOwnerArgument: return "msi_launch_owner_argument";
        case ErrorCode::MsiBootstrapperAutoLaunch: return "msi_bootstrapper_auto_launch";
        case ErrorCode::MsiStandaloneLaunchCondition: return "msi_standalone_launch_condition";
        case ErrorCode::MsiShortcutUpgradeCleanup: return "msi_shortcut_upgrade_cleanup";
        case ErrorCode::MsiLegacyShortcutCleanup: return "msi_legacy_shortcut_cleanup";
        case ErrorCode::InstallerPayloadVersionOrLanguage: return "installer_payload_version_or_language";
        case ErrorCode::ProductCode: return "product_code";
        case ErrorCode::InstallerPayloadLaunchTranslation: return "installer_payload_launch_translation";
        case ErrorCode::InstallerRuntimeDownloadForbidden: return "installer_runtime_download_forbidden";
        case ErrorCode::InstallerRuntimePayload: return "installer_runtime_payload";
        case ErrorCode::InstallerRuntimeSignature: return "installer_runtime_signature";
        case ErrorCode::SetupIcon: return "setup_icon";
        case ErrorCode::UpdateParentInvalid: return "update_parent_invalid";
        case ErrorCode::UpdateParentUnavailable: return "update_parent_unavailable";
        case ErrorCode::UpdateParentBusy: return "update_parent_busy";
        case ErrorCode::InstallLocation: return "install_location";
        case ErrorCode::InstalledApplication: return "installed_application";
        // The two texts that the engine's start reports in place of an operating-system text.
        case ErrorCode::ProgramNotFound: return "program not found";
        case ErrorCode::NulInArgument: return "nul byte found in provided data";
        case ErrorCode::RunLogRefused: return "run_log_refused";
    }
    return "unknown_error";
}

// The one error value of the program: an error code (with the operating system's error that
// caused it, where there is one, kept for diagnosis and never shown), an operating-system error
// text, or a text made for the user (an HRESULT's description, a translated sentence). Its own
// type, so that `return "text";` can never become a success value.
class SetupError {
public:
    explicit SetupError(ErrorCode code, std::uint32_t os_error = 0) : code_(code), os_error_(os_error) {}

    // "message (os error N)" as the Windows tier renders it, for error `code`.
    [[nodiscard]] static SetupError from_os_error(std::uint32_t code, std::string text) {
        return SetupError(std::nullopt, code, std::move(text));
    }
    [[nodiscard]] static SetupError from_text(std::string text) { return SetupError(std::nullopt, 0, std::move(text)); }

    // What the user sees: the code's text, or the text the error was made with.
    [[nodiscard]] std::string text() const { return code_ ? std::string(error_code_text(*code_)) : text_; }
    [[nodiscard]] std::optional<ErrorCode> code() const noexcept { return code_; }
    // The operating system's error number behind the error; 0 when there is none.
    [[nodiscard]] std::uint32_t os_error() const noexcept { return os_error_; }
    // The process's exit code once the failure is reported: 1, unless a quiet run hands back the
    // installer engine's own code, which deployment tools act on.
    [[nodiscard]] std::int32_t exit_code() const noexcept { return exit_code_; }
    [[nodiscard]] SetupError ending_with(std::int32_t exit_code) && {
        exit_code_ = exit_code;
        return std::move(*this);
    }

    bool operator==(const SetupError&) const = default;

private:
    SetupError(std::optional<ErrorCode> code, std::uint32_t os_error, std::string text)
        : code_(code), os_error_(os_error), text_(std::move(text)) {}

    std::optional<ErrorCode> code_;
    std::uint32_t os_error_ = 0;
    std::string text_;
    std::int32_t exit_code_ = 1;
};

template <typename T>
using Result = std::expected<T, SetupError>;
using Status = std::expected<void, SetupError>;

[[nodiscard]] inline std::unexpected<SetupError> fail(ErrorCode code, std::uint32_t os_error = 0) {
    return std::unexpected(SetupError(code, os_error));
}

[[nodiscard]] inline std::unexpected<SetupError> fail(SetupError error) {
    return std::unexpected(std::move(error));
}

}  // namespace mirel

#define MIREL_CONCAT_INNER_(a, b) a##b
#define MIREL_CONCAT_(a, b) MIREL_CONCAT_INNER_(a, b)

// Returns the error of `expr` (a Result or Status) from the calling function. One statement.
#define RETURN_IF_ERROR(expr)                                                                                      \
    do {                                                                                                           \
        if (auto mirel_status_ = (expr); !mirel_status_) return std::unexpected(std::move(mirel_status_).error()); \
    } while (false)

// Declares or assigns `lhs` from the value of `expr`, or returns its error.
// Not one statement, since it declares a name for the caller. Under an unbraced `if`, `else` or
// loop it does not compile (the temporary's scope ends with the first statement), so it can never
// run half of itself; keep it in a braced block.
#define ASSIGN_OR_RETURN(lhs, expr) ASSIGN_OR_RETURN_IMPL_(MIREL_CONCAT_(mirel_result_, __LINE__), lhs, expr)
#define ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr)                \
    auto tmp = (expr);                                        \
    if (!tmp) return std::unexpected(std::move(tmp).error()); \
    lhs = std::move(tmp).value()
