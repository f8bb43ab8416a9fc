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

#include "backups_command.h"
#include "command_line.h"
#include "console.h"
#include "directory_payload.h"
#include "exit_codes.h"
#include "file_system.h"
#include "hints.h"
#include "install_dir.h"
#include "manifest_check.h"
#include "manifest_diagnostics.h"
#include "run.h"
#include "run_log.h"
#include "run_output.h"
#include "status_output.h"
#include "steam_search.h"
#include "survey.h"
#include "utf8.h"

namespace {

using qorvex::Error;
using namespace qorvex::cli;

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
  const std::string path = payloadFilePath(folder, name);
  const std::string reason(qorvex::errorName(error));
  std::fprintf(stderr, "qorvex-patch: %s: %s\n", path.c_str(), reason.c_str());
}

// The texts of the run: the carried ones, or those of --payload. A payload
// file that is there but cannot be used stops the command before anything
// runs; only an absent one falls back to the carried text.
std::optional<qorvex::DirectoryPayload> openPayload(qorvex::FileSystem& fs,
                                                    const CommandLine& cmd) {
  if (!cmd.payloadDir) return qorvex::DirectoryPayload(nullptr);
  auto opened = fs.openDirectory(makeAbsolute(*cmd.payloadDir));
  if (!opened) {
    const std::string name(qorvex::errorName(opened.error()));
    std::fprintf(stderr, "qorvex-patch: cannot open payload folder '%s': %s\n",
                 cmd.payloadDir->c_str(), name.c_str());
    return std::nullopt;
  }
  qorvex::DirectoryPayload payload(std::move(*opened));
  for (std::string_view name :
       {qorvex::kManifestName, qorvex::kModuleName, qorvex::kPanelBlockName}) {
    auto text = payload.overrideText(name);
    if (!text && text.error() != Error::FileNotFound) {
      reportPayloadProblem(*cmd.payloadDir, name, text.error());
      return std::nullopt;
    }
  }
  return payload;
}

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
  std::fprintf(stderr, "qorvex-patch: %.*s%s\n", static_cast<int>(qorvex::kNotAGameInstall.size()),
               qorvex::kNotAGameInstall.data(), reason.c_str());
  if (normalized) {
    const std::string hint =
        qorvex::installDirHint(qorvex::diagnoseInstallDir(fs, installDir, kSeparator), installDir);
    std::fprintf(stderr, "qorvex-patch: %s\n", hint.c_str());
  }
  return std::nullopt;
}

void reportProblem(const std::string& installDir, const std::string& path, Error error,
                   bool readOnly) {
  const std::string where = path.empty() ? installDir : path;
  const std::string name(qorvex::errorName(error));
  const std::string hint(qorvex::problemHint(error, readOnly, kHintStyle));
  std::fprintf(stderr, "qorvex-patch: %s: %s: %s\n", where.c_str(), name.c_str(), hint.c_str());
}

int runStatus(qorvex::FileSystem& fs, const qorvex::DirectoryPayload& payload,
              const std::string& installDir, bool json) {
  auto report = qorvex::surveyInstall(installDir, fs, payload);
  if (!report) {
    // A manifest that does not load is no fault of the install's.
    if (auto text = payload.manifestText(); !text || qorvex::checkManifest(*text).error) {
      const std::string name(qorvex::errorName(report.error()));
      std::fprintf(stderr, "qorvex-patch: the manifest does not load: %s\n", name.c_str());
    } else {
      reportProblem(installDir, {}, report.error(), false);
    }
    return kExitFatal;
  }
  if (json) {
    printText(stdout, qorvex::cli::statusJson(*report, installDir) + "\n");
  } else {
    printText(stdout, qorvex::cli::statusText(*report, installDir, "\n"));
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
      std::fputs(qorvex::cli::blockingEntries(*report, "\n").c_str(), stderr);
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
  const bool stoppedBeforeStart = !cmd.dryRun && !result.problems.empty();
  if (!stoppedBeforeStart && result.fatal)
    qorvex::writeFatalLine(log, qorvex::errorName(result.error));
  if (cmd.json) {
    const std::string_view name = cmd.action == Action::Check ? "check"
                                  : uninstall                 ? "uninstall"
                                                              : "install";
    printText(stdout, runJson(result, name, installDir, stoppedBeforeStart ? "" : buffer.text(),
                              kHintStyle) +
                          "\n");
  } else if (!stoppedBeforeStart) {
    printText(stdout, buffer.text());
  }
  // What stopped the run, or what an install could not change (CHECK), file
  // by file.
  for (const qorvex::PreflightProblem& problem : result.problems) {
    reportProblem(installDir, problem.path, problem.error, problem.readOnly);
  }
  if (stoppedBeforeStart) return kExitFatal;
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
  if (cmd.payloadDir) reportManifestDiagnostics(*payload, *cmd.payloadDir);
  std::optional<std::string> installDir = resolveInstallDir(*fs, cmd.installDirArgument);
  if (!installDir) return kExitUsage;
  if (cmd.action == Action::Status) return runStatus(*fs, *payload, *installDir, cmd.json);
  if (cmd.action == Action::Backups) return runBackups(*fs, *payload, *installDir, cmd);
  return runAction(*fs, *payload, *installDir, cmd);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view wide(argv[i]);
    // wchar_t is UTF-16 on Windows.
    std::optional<std::string> arg = qorvex::utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
    if (!arg) {
      std::fprintf(stderr,
                   "qorvex-patch: argument %d is not valid Unicode\nTry 'qorvex-patch --help'.\n",
                   i);
      return kExitUsage;
    }
    args.push_back(std::move(*arg));
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
