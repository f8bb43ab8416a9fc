#pragma once
// The lines that tell a manifest author where a --payload manifest goes wrong.

#include <string>
#include <string_view>

#include "directory_payload.h"
#include "manifest_check.h"

namespace qorvex::cli {

// A file of the --payload folder as the user knows it: the folder as typed,
// the platform's separator unless it ends in one, then the name.
std::string payloadFilePath(std::string_view folder, std::string_view name);

// "qorvex-patch: {file}:{line}:{column}: {entry}: {message}", where a warning's
// message starts "warning: " and the top level's entry is "(top level)".
std::string manifestDiagnosticLine(std::string_view file, const ManifestDiagnostic& diagnostic);

// Prints on stderr a line per warning, then one for the error that will stop
// the run, of the folder's own manifest.json; nothing when it has none. The
// run still reports the error by its name in its log.
void reportManifestDiagnostics(const DirectoryPayload& payload, std::string_view payloadDir);

}  // namespace qorvex::cli
