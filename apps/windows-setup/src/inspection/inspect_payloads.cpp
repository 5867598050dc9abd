#include "inspection/inspect_packages.hpp"

#include "common/run_log.hpp"
#include "inspection/installer_database.hpp"
#include "inspection/package_rules.hpp"
#include "inspection/web_runtime.hpp"
#include "staging/staging.hpp"

namespace mirel {

Status inspect_payloads(std::span<const Payload> payloads) {
    // Destroying the directory removes every package written into it, on every way out.
    ASSIGN_OR_RETURN(StagingDirectory staging, create_staging_directory());
    for (const Payload& payload : payloads) {
        log_event("package", {"checking ", payload.file_name, ", the ", language_name(payload.language), " package"});
        ASSIGN_OR_RETURN(const std::string package_path, stage_payload(staging, payload));
        RETURN_IF_ERROR(check_package(installer_package_queries(), check_web_runtime, package_path, payload.language));
    }
    return {};
}

}  // namespace mirel
