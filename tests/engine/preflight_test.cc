#include "preflight.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_fixture.h"

namespace qorvex {
namespace {

using testing::Fault;
using testing::Fixture;
using testing::Op;

const std::string kA = "ME\\modules\\a.lua";
const std::string kD = "ME\\modules\\d.dlg";
const std::string kModule = "MissionEditor\\modules\\me_qorvex_undo.lua";

std::string describe(const std::vector<PreflightProblem>& problems) {
  std::string out;
  for (const PreflightProblem& p : problems) {
    out += p.path + " " + std::string(errorName(p.error)) + (p.readOnly ? " read-only" : "") + "\n";
  }
  return out;
}

PreflightReport check(Fixture& f, bool uninstall) {
  return preflight(RunRequest{"/game", uninstall, false}, f.fs, f.payload, f.fs.clock, f.fs.clock);
}

// Each way a change can be impossible, found before anything is written, on
// the file it concerns; the probe files are gone again.
TEST(Preflight, NamesEveryFileThatCannotBeChanged) {
  struct Case {
    const char* name;
    void (*arrange)(Fixture&);
    std::string expected;
  };
  const Case cases[] = {
      {"clean", [](Fixture&) {}, ""},
      {"read-only", [](Fixture& f) { f.fs.readOnly.insert(kA); }, kA + " AccessDenied read-only\n"},
      {"held open", [](Fixture& f) { f.fs.busy.insert(kD); }, kD + " FileBusy\n"},
      {"folder refuses new files",
       [](Fixture& f) {
         f.fs.faults.push_back(Fault{Op::Create, 1, Error::AccessDenied});
       },
       kA + " AccessDenied\n"},
      // The module's folder is made by the run; a folder that exists is probed.
      {"disk full", [](Fixture& f) { f.fs.freeBytes = 100; }, kA + " NoSpaceLeft\n"},
      {"disk full, module folder there",
       [](Fixture& f) {
         f.fs.folders.insert("MissionEditor");
         f.fs.folders.insert("MissionEditor\\modules");
         f.fs.freeBytes = 10;
       },
       kModule + " NoSpaceLeft\n" + kA + " NoSpaceLeft\n"},
      {"unreadable",
       [](Fixture& f) {
         f.fs.faults.push_back(Fault{Op::Read, 2, Error::InputOutput});
       },
       kA + " InputOutput\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    c.arrange(f);
    const std::map<std::string, std::string> before = f.fs.files;
    const PreflightReport report = check(f, false);
    EXPECT_EQ(describe(report.problems), c.expected);
    EXPECT_EQ(f.fs.files, before);
  }
}

// The changes pre-flight lists are exactly the changes the run then makes, in
// the same order, for both passes.
TEST(Preflight, ListsWhatTheRunThenWrites) {
  Fixture f;
  for (bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "uninstall" : "install");
    const PreflightReport report = check(f, uninstall);
    ASSERT_TRUE(report.problems.empty()) << describe(report.problems);
    std::vector<std::string> listed;
    for (const PlannedChange& change : report.changes) {
      listed.push_back((change.kind == PlannedChange::Kind::Delete ? "delete " : "write ") +
                       change.path);
    }
    f.fs.journal.clear();
    f.fs.clock.now += 1;
    ASSERT_FALSE(f.go(uninstall, false).fatal);
    std::vector<std::string> done;
    for (const std::string& entry : f.fs.journal) {
      if (entry.starts_with("rename ") && entry.find(".qorvex-tmp-") < entry.find(" -> ")) {
        done.push_back("write " + entry.substr(entry.find(" -> ") + 4));
      } else if (entry.starts_with("delete ") && entry.find(".qorvex-tmp-") == std::string::npos) {
        done.push_back(entry);
      }
    }
    EXPECT_EQ(listed, done);
    EXPECT_EQ(listed.size(), 3u);  // the module, a.lua and d.dlg
  }
}

}  // namespace
}  // namespace qorvex
