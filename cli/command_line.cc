#include "command_line.h"

#include <cstdio>
#include <string_view>

#include "console.h"
#include "exit_codes.h"
#include "qorvex_version.h"

namespace qorvex::cli {
namespace {

constexpr std::string_view kUsage =
    "Usage: qorvex-patch [--payload DIR] [--json] [--dry-run] [--strict] [--prune] ACTION "
    "INSTALL_DIR\n"
    "       qorvex-patch --help | --version\n"
    "\n"
    "Checks, installs or uninstalls the Mission Editor undo feature in a game\n"
    "install and prints the run's log, reports where the install stands, or\n"
    "lists and tidies the backups that runs leave.\n"
    "\n"
    "ACTION:\n"
    "  check      report what an install would do; writes nothing\n"
    "  install    deploy the undo module and apply the patches\n"
    "  uninstall  remove the patches and the undo module\n"
    "  status     report each patch's state and the install's verdict\n"
    "  backups    list the backups of each file that runs change, oldest first\n"
    "\n"
    "Options:\n"
    "  --payload DIR  use manifest.json, me_qorvex_undo.lua and block files found\n"
    "                 directly in DIR instead of the built-in texts of those names\n"
    "  --json         print one JSON object instead of the log or the report\n"
    "  --dry-run      with uninstall or backups --prune: report what it would do;\n"
    "                 writes nothing\n"
    "  --strict       with install: change nothing when a patch cannot be made in\n"
    "                 this game version (the status verdict \"blocked\")\n"
    "  --prune        with backups: remove each backup whose bytes a kept backup or\n"
    "                 the file itself holds; the oldest backup of a file stays\n"
    "  -h, --help     show this text and exit\n"
    "  -V, --version  show the program's version and exit\n"
    "\n"
    "INSTALL_DIR is the game's folder, the one that holds MissionEditor. On Linux\n"
    "it may be omitted: the game is then looked for in the user's Steam libraries\n"
    "(those of ~/.local/share/Steam, ~/.steam/steam and the Flatpak Steam's\n"
    "~/.var/app/com.valvesoftware.Steam/.local/share/Steam) and used when exactly\n"
    "one install is found there.\n"
    "\n"
    "Exit status: 0 completed, 1 completed with errors, 2 stopped before it\n"
    "started or by a fatal error, 5 blocked (install --strict), 64 usage error\n"
    "or not a game install. status: 0 installed, 3 not installed, 4 partial,\n"
    "5 blocked, 2 the survey could not be made. backups: 0 done, 1 a backup\n"
    "that could go stayed, 2 stopped by a fault.\n";

// One line that says what was wrong and where to read more: a script's log
// should not fill up with the whole help.
int usageError(std::string_view message) {
  std::fprintf(stderr, "qorvex-patch: %.*s\nTry 'qorvex-patch --help'.\n",
               static_cast<int>(message.size()), message.data());
  return kExitUsage;
}

}  // namespace

std::variant<CommandLine, int> parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cmd;
  std::vector<std::string> positional;
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && (arg == "--help" || arg == "-h")) {
      printText(stdout, kUsage);
      return kExitSuccess;
    } else if (!optionsDone && (arg == "--version" || arg == "-V")) {
      printText(stdout, "qorvex-patch " QORVEX_VERSION "\n");
      return kExitSuccess;
    } else if (!optionsDone && arg == "--dry-run") {
      cmd.dryRun = true;
    } else if (!optionsDone && arg == "--strict") {
      cmd.strict = true;
    } else if (!optionsDone && arg == "--json") {
      cmd.json = true;
    } else if (!optionsDone && arg == "--prune") {
      cmd.prune = true;
    } else if (!optionsDone && arg == "--payload") {
      if (i + 1 >= args.size()) return usageError("--payload needs a folder");
      cmd.payloadDir = args[++i];
    } else if (!optionsDone && arg.starts_with("--payload=")) {
      cmd.payloadDir = arg.substr(10);
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + arg + "'");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) return usageError("no ACTION given");
  if (positional.size() > 2) return usageError("unexpected argument '" + positional[2] + "'");
#ifdef _WIN32
  if (positional.size() < 2) return usageError("no INSTALL_DIR given");
#endif
  // On Linux, without INSTALL_DIR the game is looked for in the user's Steam
  // libraries.
  const std::string& action = positional[0];
  if (action == "check") {
    cmd.action = Action::Check;
    cmd.dryRun = true;
  } else if (action == "install") {
    cmd.action = Action::Install;
  } else if (action == "uninstall") {
    cmd.action = Action::Uninstall;
  } else if (action == "status") {
    cmd.action = Action::Status;
  } else if (action == "backups") {
    cmd.action = Action::Backups;
  } else {
    return usageError("unknown action '" + action + "'");
  }
  if (cmd.prune && cmd.action != Action::Backups)
    return usageError("--prune goes only with backups");
  if (positional.size() == 2) cmd.installDirArgument = positional[1];
  return cmd;
}

}  // namespace qorvex::cli
