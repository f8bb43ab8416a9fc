#pragma once
// The command line of qorvex-patch.

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qorvex::cli {

enum class Action { Check, Install, Uninstall, Status, Backups };

struct CommandLine {
  Action action = Action::Check;
  std::optional<std::string> payloadDir;
  bool dryRun = false;
  bool strict = false;
  bool json = false;
  bool prune = false;  // backups only
  // Nothing when the command line names no folder (Linux only).
  std::optional<std::string> installDirArgument;
};

// The command line, or the exit status of a usage error or of --help (after
// printing what it has to say).
std::variant<CommandLine, int> parseCommandLine(const std::vector<std::string>& args);

}  // namespace qorvex::cli
