// qorvex-patch: the patch engine on the command line, for Linux players under
// Proton, for scripting and for tests. It prints the RunLog exactly as the
// wizard's log control would hold it.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
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

namespace {

using qorvex::Error;

constexpr int kExitSuccess = 0;
constexpr int kExitErrors = 1;
constexpr int kExitFatal = 2;
constexpr int kExitUsage = 64;

#ifdef _WIN32
constexpr char kSeparator = '\\';
constexpr qorvex::HintStyle kHintStyle = qorvex::HintStyle::Windows;
#else
constexpr char kSeparator = '/';
constexpr qorvex::HintStyle kHintStyle = qorvex::HintStyle::Posix;
#endif

constexpr std::string_view kUsage =
    "Usage: qorvex-patch [--payload DIR] [--dry-run] ACTION INSTALL_DIR\n"
    "\n"
    "Checks, installs or uninstalls the Mission Editor undo feature in a game\n"
    "install and prints the run's log.\n"
    "\n"
    "ACTION:\n"
    "  check      report what an install would do; writes nothing\n"
    "  install    deploy the undo module and apply the patches\n"
    "  uninstall  remove the patches and the undo module\n"
    "\n"
    "Options:\n"
    "  --payload DIR  use manifest.json, me_qorvex_undo.lua and block files found\n"
    "                 directly in DIR instead of the built-in texts of those names\n"
    "  --dry-run      with uninstall: report what it would do; writes nothing\n"
    "  --help         show this text\n"
    "\n"
    "Exit status: 0 completed, 1 completed with errors, 2 stopped by a fatal\n"
    "error, 64 usage error or not a game install.\n";

void reportPayloadProblem(const std::string& folder, std::string_view name, Error error) {
  std::string path = folder;
  if (path.empty() || (path.back() != '/' && path.back() != '\\')) path.push_back(kSeparator);
  path.append(name);
  const std::string reason(qorvex::errorName(error));
  std::fprintf(stderr, "qorvex-patch: %s: %s\n", path.c_str(), reason.c_str());
}

int usageError(std::string_view message) {
  std::fprintf(stderr, "qorvex-patch: %.*s\n%.*s", static_cast<int>(message.size()), message.data(),
               static_cast<int>(kUsage.size()), kUsage.data());
  return kExitUsage;
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

int runCli(const std::vector<std::string>& args) {
  std::string payloadDir;
  bool havePayloadDir = false;
  bool dryRun = false;
  std::vector<std::string> positional;
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && (arg == "--help" || arg == "-h")) {
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      return kExitSuccess;
    } else if (!optionsDone && arg == "--dry-run") {
      dryRun = true;
    } else if (!optionsDone && arg == "--payload") {
      if (i + 1 >= args.size()) return usageError("--payload needs a folder");
      payloadDir = args[++i];
      havePayloadDir = true;
    } else if (!optionsDone && arg.rfind("--payload=", 0) == 0) {
      payloadDir = arg.substr(10);
      havePayloadDir = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + arg + "'");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return usageError("expected ACTION and INSTALL_DIR");
  const std::string& action = positional[0];
  bool uninstall;
  if (action == "check") {
    uninstall = false;
    dryRun = true;
  } else if (action == "install") {
    uninstall = false;
  } else if (action == "uninstall") {
    uninstall = true;
  } else {
    return usageError("unknown action '" + action + "'");
  }

  std::unique_ptr<qorvex::FileSystem> fs = qorvex::makePlatformFileSystem();

  std::unique_ptr<qorvex::Directory> overrides;
  if (havePayloadDir) {
    auto opened = fs->openDirectory(makeAbsolute(payloadDir));
    if (!opened) {
      std::string name(qorvex::errorName(opened.error()));
      std::fprintf(stderr, "qorvex-patch: cannot open payload folder '%s': %s\n", payloadDir.c_str(),
                   name.c_str());
      return kExitUsage;
    }
    overrides = std::move(*opened);
  }
  qorvex::DirectoryPayload payload(std::move(overrides));
  // A payload file that is there but cannot be used stops the command before
  // anything runs; only an absent one falls back to the carried text.
  if (havePayloadDir) {
    for (std::string_view name :
         {qorvex::kManifestName, qorvex::kModuleName, qorvex::kPanelBlockName}) {
      auto text = payload.overrideText(name);
      if (!text && text.error() != Error::FileNotFound) {
        reportPayloadProblem(payloadDir, name, text.error());
        return kExitUsage;
      }
    }
  }

  auto normalized = qorvex::normalizeInstallDir(positional[1]);
  std::string installDir;
  Error rejection = Error::NoPathProvided;
  bool accepted = false;
  if (normalized) {
    installDir = makeAbsolute(*normalized);
    rejection = Error::MissionEditorFolderNotFound;
    accepted = qorvex::looksLikeGameInstall(*fs, installDir, kSeparator);
  }
  if (!accepted) {
    std::string reason(qorvex::errorName(rejection));
    std::fprintf(stderr,
                 "qorvex-patch: The selected directory does not look like a valid game install: "
                 "%s\n",
                 reason.c_str());
    if (normalized) {
      const std::string hint = qorvex::installDirHint(
          qorvex::diagnoseInstallDir(*fs, installDir, kSeparator), installDir);
      std::fprintf(stderr, "qorvex-patch: %s\n", hint.c_str());
    }
    return kExitUsage;
  }

  // A run that writes keeps its log until it knows that it started: one that
  // finds a file it cannot change stops before anything changes, and then
  // prints only what stood in its way.
  qorvex::StringLogSink buffer;
  qorvex::RunLog log(&buffer);
  std::string_view actionName = uninstall ? (dryRun ? "UNINSTALL (dry run)" : "UNINSTALL")
                                          : (dryRun ? "CHECK" : "INSTALL");
  qorvex::writeRunHeader(log, installDir, actionName);
  qorvex::RunRequest request{installDir, uninstall, dryRun};
  request.checkChanges = dryRun;
  const qorvex::RunResult result = qorvex::run(request, *fs, payload, log);
  if (!payload.failedName().empty()) {
    reportPayloadProblem(payloadDir, payload.failedName(), payload.failedError());
  }
  auto report = [&](const std::string& path, Error error, bool readOnly) {
    const std::string where = path.empty() ? installDir : path;
    const std::string name(qorvex::errorName(error));
    const std::string hint(qorvex::problemHint(error, readOnly, kHintStyle));
    std::fprintf(stderr, "qorvex-patch: %s: %s: %s\n", where.c_str(), name.c_str(), hint.c_str());
  };
  if (!dryRun && !result.problems.empty()) {
    for (const qorvex::PreflightProblem& problem : result.problems) {
      report(problem.path, problem.error, problem.readOnly);
    }
    return kExitFatal;
  }
  if (result.fatal) qorvex::writeFatalLine(log, qorvex::errorName(result.error));
  std::fwrite(buffer.text().data(), 1, buffer.text().size(), stdout);
  std::fflush(stdout);
  // CHECK names every change that an install could not make.
  for (const qorvex::PreflightProblem& problem : result.problems) {
    report(problem.path, problem.error, problem.readOnly);
  }
  if (result.fatal) {
    // The log names the error; this line names the file it happened to.
    report(result.failedPath, result.error, false);
    return kExitFatal;
  }
  return result.success && result.problems.empty() ? kExitSuccess : kExitErrors;
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
