#pragma once

// An in-memory file system for engine tests. It records every operation, so a
// test can assert that a run wrote nothing, and it can make the n-th operation
// of a kind fail, to prove what a failure leaves behind.

#include <cstdint>
#include <functional>
#include <optional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "file_system.h"

namespace qorvex::testing {

enum class Op {
  Read,
  Create,
  Write,
  Commit,
  RenameReplace,
  RenameNoReplace,
  Delete,
  KindOf,
  MakeDir,
  Check,
  Link,
  List,
  Flush,
  Lock,
  Info
};

struct Fault {
  Op op;
  int occurrence = 1;  // 1: the first operation of that kind fails
  Error error = Error::AccessDenied;
  // For Write: how many bytes are stored before the failure (a full disk).
  std::size_t partialBytes = 0;
};

class MemoryFileSystem : public FileSystem {
 public:
  // Files and folders by their path with '\' separators, relative to the root.
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::vector<std::string> journal;  // "create X", "rename X -> Y", ...
  std::vector<Fault> faults;
  std::set<std::string> busy;  // files another process holds open against replacing
  std::set<std::string> readOnly;
  // Each file's identity: a hard link shares it, a rename carries it along.
  std::map<std::string, int> inodeOf;
  // Names that are symbolic links, and FIFOs; neither is ever followed or read.
  std::set<std::string> symlinks;
  std::set<std::string> fifos;
  bool lockedElsewhere = false;   // another run holds the install
  bool linksUnsupported = false;  // a file system without hard links
  int flushes = 0;
  std::uint64_t freeBytes = std::uint64_t(1) << 40;
  std::string root = "/game";

  Result<std::unique_ptr<Directory>> openDirectory(std::string_view absolutePath) override;
  // The holders of busy files let go once a run has waited this long.
  unsigned releaseBusyAfterMilliseconds = ~0u;
  // The clock of the runs on this file system: its waits are what lets the
  // holders of busy files go.
  FakeClock clock;

  MemoryFileSystem() {
    clock.afterSleep = [this](unsigned slept) {
      if (slept >= releaseBusyAfterMilliseconds) busy.clear();
    };
  }
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  // Counts operations and fires the fault that matches.
  std::optional<Fault> hit(Op op);
  bool wroteNothing() const;
  void addFile(const std::string& path, std::string content);
  // True when the two names are links to one file.
  bool sameFile(const std::string& a, const std::string& b) const;
  int newInode() { return ++lastInode_; }

 private:
  std::map<Op, int> counts_;
  int lastInode_ = 0;
};

// Normalises '/' to '\' and drops empty and "." components.
std::string canonicalPath(std::string_view path);

}  // namespace qorvex::testing
