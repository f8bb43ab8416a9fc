// qorvex-patch: the patch engine on the command line, for Linux players under
// Proton, for scripting and for tests. It prints the RunLog exactly as the
// wizard's log control would hold it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "directory_payload.h"
#include "file_system.h"
#include "hints.h"
#include "install_dir.h"
#include "run.h"
#include "run_log.h"
#include "status_output.h"
#include "steam_library.h"
#include "survey.h"

namespace {

using qorvex::Error;

constexpr int kExitSuccess = 0;
constexpr int kExitErrors = 1;
constexpr int kExitFatal = 2;
constexpr int kExitBlocked = 5;
constexpr int kExitUsage = 64;

#ifdef _WIN32
constexpr char kSeparator = '\\';
constexpr qorvex::HintStyle kHintStyle = qorvex::HintStyle::Windows;
constexpr std::string_view kNewline = "\r\n";
#else
constexpr char kSeparator = '/';
constexpr qorvex::HintStyle kHintStyle = qorvex::HintStyle::Posix;
constexpr std::string_view kNewline = "\n";
#endif

constexpr std::string_view kUsage =
    "Usage: qorvex-patch [--payload DIR] [--dry-run] [--strict] ACTION INSTALL_DIR\n"
    "       qorvex-patch [--payload DIR] [--json] status INSTALL_DIR\n"
    "\n"
    "Checks, installs or uninstalls the Mission Editor undo feature in a game\n"
    "install and prints the run's log, or reports where the install stands.\n"
    "\n"
    "ACTION:\n"
    "  check      report what an install would do; writes nothing\n"
    "  install    deploy the undo module and apply the patches\n"
    "  uninstall  remove the patches and the undo module\n"
    "  status     report each patch's state and the install's verdict\n"
    "\n"
    "Options:\n"
    "  --payload DIR  use manifest.json, me_qorvex_undo.lua and block files found\n"
    "                 directly in DIR instead of the built-in texts of those names\n"
    "  --dry-run      with uninstall: report what it would do; writes nothing\n"
    "  --strict       with install: change nothing when a patch cannot be made in\n"
    "                 this game version (the status verdict \"blocked\")\n"
    "  --json         with status: print one JSON object instead of lines\n"
    "  --help         show this text\n"
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
    "5 blocked, 2 the survey could not be made.\n";

enum class Action { Check, Install, Uninstall, Status };

struct CommandLine {
  Action action = Action::Check;
  std::optional<std::string> payloadDir;
  bool dryRun = false;
  bool strict = false;
  bool json = false;
  // Nothing when the command line names no folder (Linux only).
  std::optional<std::string> installDirArgument;
};

int usageError(std::string_view message) {
  std::fprintf(stderr, "qorvex-patch: %.*s\n%.*s", static_cast<int>(message.size()), message.data(),
               static_cast<int>(kUsage.size()), kUsage.data());
  return kExitUsage;
}

void printTo(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// The command line, or the exit status of a usage error or of --help.
std::variant<CommandLine, int> parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cmd;
  std::vector<std::string> positional;
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && (arg == "--help" || arg == "-h")) {
      printTo(stdout, kUsage);
      return kExitSuccess;
    } else if (!optionsDone && arg == "--dry-run") {
      cmd.dryRun = true;
    } else if (!optionsDone && arg == "--strict") {
      cmd.strict = true;
    } else if (!optionsDone && arg == "--json") {
      cmd.json = true;
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
#ifdef _WIN32
  if (positional.size() != 2) return usageError("expected ACTION and INSTALL_DIR");
#else
  // Without INSTALL_DIR the game is looked for in the user's Steam libraries.
  if (positional.empty() || positional.size() > 2) {
    return usageError("expected ACTION and INSTALL_DIR");
  }
#endif
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
  } else {
    return usageError("unknown action '" + action + "'");
  }
  if (positional.size() == 2) cmd.installDirArgument = positional[1];
  return cmd;
}

std::string currentDirectory() {
  std::error_code ignored;
  auto cwd = std::filesystem::current_path(ignored);
  auto text = cwd.u8string();
  return std::string(text.begin(), text.end());
}

std::string makeAbsolute(std::string_view path) {
  if (qorvex::isAbsolutePath(path)) return std::string(path);
  std::string absolute = currentDirectory();
  if (absolute.empty() || (absolute.back() != '/' && absolute.back() != '\\')) {
    absolute.push_back(kSeparator);
  }
  absolute.append(path);
  return absolute;
}

void reportPayloadProblem(const std::string& folder, std::string_view name, Error error) {
  std::string path = folder;
  if (path.empty() || (path.back() != '/' && path.back() != '\\')) path.push_back(kSeparator);
  path.append(name);
  const std::string reason(qorvex::errorName(error));
  std::fprintf(stderr, "qorvex-patch: %s: %s\n", path.c_str(), reason.c_str());
}

// The texts of the run: the carried ones, or those of --payload. A payload
// file that is there but cannot be used stops the command before anything
// runs; only an absent one falls back to the carried text.
std::optional<qorvex::DirectoryPayload> openPayload(qorvex::FileSystem& fs, const CommandLine& cmd) {
  if (!cmd.payloadDir) return qorvex::DirectoryPayload(nullptr);
  auto opened = fs.openDirectory(makeAbsolute(*cmd.payloadDir));
  if (!opened) {
    const std::string name(qorvex::errorName(opened.error()));
    std::fprintf(stderr, "qorvex-patch: cannot open payload folder '%s': %s\n",
                 cmd.payloadDir->c_str(), name.c_str());
    return std::nullopt;
  }
  qorvex::DirectoryPayload payload(std::move(*opened));
  for (std::string_view name : {qorvex::kManifestName, qorvex::kModuleName, qorvex::kPanelBlockName}) {
    auto text = payload.overrideText(name);
    if (!text && text.error() != Error::FileNotFound) {
      reportPayloadProblem(*cmd.payloadDir, name, text.error());
      return std::nullopt;
    }
  }
  return payload;
}

#ifndef _WIN32
// Where Steam keeps itself for a Linux user, below the home folder: its own
// folder, the older link to it, and the Flatpak build's folder.
constexpr std::string_view kSteamFolders[] = {
    ".local/share/Steam",
    ".steam/steam",
    ".var/app/com.valvesoftware.Steam/.local/share/Steam",
};

// One folder reached by two names (~/.steam/steam is usually a link to
// ~/.local/share/Steam) counts once.
std::string sameFolderKey(const std::string& path) {
  std::error_code ignored;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ignored);
  return canonical.empty() ? path : canonical.string();
}

// The one game install in the user's Steam libraries, or nothing after saying
// why there is not exactly one.
std::optional<std::string> findInstallInSteamLibraries(qorvex::FileSystem& fs) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || !qorvex::isAbsolutePath(home)) {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and HOME does not name a folder to look for "
               "Steam in\n",
               stderr);
    return std::nullopt;
  }
  struct Found {
    std::string installDir;
    std::string library;
  };
  std::vector<std::string> steamFolders;
  std::vector<std::string> libraries;
  std::vector<std::string> seenLibraries;
  std::vector<Found> found;
  std::vector<std::string> seenInstalls;
  for (std::string_view below : kSteamFolders) {
    std::string steam = home;
    if (steam.back() != '/') steam.push_back('/');
    steam.append(below);
    steamFolders.push_back(steam);
    if (!fs.openDirectory(steam)) continue;
    for (const std::string& library : qorvex::steamLibraries(fs, steam, kSeparator)) {
      std::string libraryKey = sameFolderKey(library);
      if (std::find(seenLibraries.begin(), seenLibraries.end(), libraryKey) != seenLibraries.end()) {
        continue;
      }
      seenLibraries.push_back(std::move(libraryKey));
      libraries.push_back(library);
      std::string dir = qorvex::steamGameFolder(library, kSeparator);
      if (!qorvex::looksLikeGameInstall(fs, dir, kSeparator)) continue;
      std::string installKey = sameFolderKey(dir);
      if (std::find(seenInstalls.begin(), seenInstalls.end(), installKey) != seenInstalls.end()) {
        continue;
      }
      seenInstalls.push_back(std::move(installKey));
      found.push_back({std::move(dir), library});
    }
  }
  if (found.size() == 1) {
    std::fprintf(stderr, "qorvex-patch: using the game install %s (found in the Steam library %s)\n",
                 found[0].installDir.c_str(), found[0].library.c_str());
    return found[0].installDir;
  }
  if (found.empty() && libraries.empty()) {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and no Steam was found in:\n", stderr);
    for (const std::string& folder : steamFolders) std::fprintf(stderr, "  %s\n", folder.c_str());
  } else if (found.empty()) {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and no game install was found in these Steam "
               "libraries:\n",
               stderr);
    for (const std::string& library : libraries) std::fprintf(stderr, "  %s\n", library.c_str());
  } else {
    std::fputs("qorvex-patch: no INSTALL_DIR given, and the Steam libraries hold several game "
               "installs; name one as INSTALL_DIR:\n",
               stderr);
    for (const Found& install : found) std::fprintf(stderr, "  %s\n", install.installDir.c_str());
  }
  if (found.empty()) {
    std::fputs("qorvex-patch: name the game's folder, the one that holds MissionEditor, as "
               "INSTALL_DIR\n",
               stderr);
  }
  return std::nullopt;
}
#endif

// The absolute install folder, or nothing after saying why the argument is
// not a game install.
std::optional<std::string> resolveInstallDir(qorvex::FileSystem& fs,
                                             const std::optional<std::string>& argumentGiven) {
#ifndef _WIN32
  if (!argumentGiven) return findInstallInSteamLibraries(fs);
#endif
  const std::string_view argument = argumentGiven ? std::string_view(*argumentGiven) : "";
  auto normalized = qorvex::normalizeInstallDir(argument);
  std::string installDir;
  Error rejection = Error::NoPathProvided;
  if (normalized) {
    installDir = makeAbsolute(*normalized);
    if (qorvex::looksLikeGameInstall(fs, installDir, kSeparator)) return installDir;
    rejection = Error::MissionEditorFolderNotFound;
  }
  const std::string reason(qorvex::errorName(rejection));
  std::fprintf(stderr,
               "qorvex-patch: The selected directory does not look like a valid game install: %s\n",
               reason.c_str());
  if (normalized) {
    const std::string hint =
        qorvex::installDirHint(qorvex::diagnoseInstallDir(fs, installDir, kSeparator), installDir);
    std::fprintf(stderr, "qorvex-patch: %s\n", hint.c_str());
  }
  return std::nullopt;
}

void reportProblem(const std::string& installDir, const std::string& path, Error error, bool readOnly) {
  const std::string where = path.empty() ? installDir : path;
  const std::string name(qorvex::errorName(error));
  const std::string hint(qorvex::problemHint(error, readOnly, kHintStyle));
  std::fprintf(stderr, "qorvex-patch: %s: %s: %s\n", where.c_str(), name.c_str(), hint.c_str());
}

int runStatus(qorvex::FileSystem& fs, const qorvex::DirectoryPayload& payload,
              const std::string& installDir, bool json) {
  auto report = qorvex::surveyInstall(installDir, fs, payload);
  if (!report) {
    reportProblem(installDir, {}, report.error(), false);
    return kExitFatal;
  }
  if (json) {
    printTo(stdout, qorvex::cli::statusJson(*report, installDir) + std::string(kNewline));
  } else {
    printTo(stdout, qorvex::cli::statusText(*report, installDir, kNewline));
  }
  return qorvex::cli::statusExitCode(report->verdict);
}

int runAction(qorvex::FileSystem& fs, const qorvex::DirectoryPayload& payload,
              const std::string& installDir, const CommandLine& cmd) {
  const bool uninstall = cmd.action == Action::Uninstall;
  if (cmd.strict && cmd.action == Action::Install) {
    // A game version that the manifest does not fit gets no half install.
    auto report = qorvex::surveyInstall(installDir, fs, payload);
    if (report && report->verdict == qorvex::Verdict::Blocked) {
      printTo(stderr, qorvex::cli::blockingEntries(*report, "\n"));
      return kExitBlocked;
    }
  }
  // A run that writes keeps its log until it knows that it started: one that
  // finds a file it cannot change stops before anything changes, and then
  // prints only what stood in its way.
  qorvex::StringLogSink buffer;
  qorvex::RunLog log(&buffer);
  std::string_view actionName = uninstall ? (cmd.dryRun ? "UNINSTALL (dry run)" : "UNINSTALL")
                                          : (cmd.dryRun ? "CHECK" : "INSTALL");
  qorvex::writeRunHeader(log, installDir, actionName);
  qorvex::RunRequest request{installDir, uninstall, cmd.dryRun};
  request.checkChanges = cmd.dryRun;
  const qorvex::RunResult result = qorvex::run(request, fs, payload, log);
  if (!payload.failedName().empty()) {
    reportPayloadProblem(*cmd.payloadDir, payload.failedName(), payload.failedError());
  }
  if (!cmd.dryRun && !result.problems.empty()) {
    for (const qorvex::PreflightProblem& problem : result.problems) {
      reportProblem(installDir, problem.path, problem.error, problem.readOnly);
    }
    return kExitFatal;
  }
  if (result.fatal) qorvex::writeFatalLine(log, qorvex::errorName(result.error));
  printTo(stdout, buffer.text());
  // CHECK names every change that an install could not make.
  for (const qorvex::PreflightProblem& problem : result.problems) {
    reportProblem(installDir, problem.path, problem.error, problem.readOnly);
  }
  if (result.fatal) {
    // The log names the error; this line names the file it happened to.
    reportProblem(installDir, result.failedPath, result.error, false);
    return kExitFatal;
  }
  return result.success && result.problems.empty() ? kExitSuccess : kExitErrors;
}

int runCli(const std::vector<std::string>& args) {
  auto parsed = parseCommandLine(args);
  if (const int* exitCode = std::get_if<int>(&parsed)) return *exitCode;
  const CommandLine& cmd = std::get<CommandLine>(parsed);

  std::unique_ptr<qorvex::FileSystem> fs = qorvex::makePlatformFileSystem();
  std::optional<qorvex::DirectoryPayload> payload = openPayload(*fs, cmd);
  if (!payload) return kExitUsage;
  std::optional<std::string> installDir = resolveInstallDir(*fs, cmd.installDirArgument);
  if (!installDir) return kExitUsage;
  if (cmd.action == Action::Status) return runStatus(*fs, *payload, *installDir, cmd.json);
  return runAction(*fs, *payload, *installDir, cmd);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), size, nullptr, nullptr);
    arg.resize(arg.size() - 1);
    args.push_back(std::move(arg));
  }
  return runCli(args);
}
#else
int main(int argc, char** argv) {
  // A reader that goes away (qorvex-patch install DIR | head) must not kill a
  // run between two files; the log is simply lost from then on.
  std::signal(SIGPIPE, SIG_IGN);
  return runCli(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
