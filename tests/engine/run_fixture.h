#pragma once

// A small manifest and install on the in-memory file system, for tests of
// whole runs: a Lua file with two patches, a missing Lua file and a dialog.

#include <map>
#include <string>

#include "memory_file_system.h"
#include "payload.h"
#include "run.h"

namespace qorvex::testing {

class StringPayload : public PayloadSource {
 public:
  std::string manifest;
  std::string module = "local m = {}\nreturn m\n";
  std::map<std::string, std::string, std::less<>> resources;

  Result<std::string> manifestText() const override { return manifest; }
  Result<std::string> moduleText() const override { return module; }
  Result<std::string> resource(std::string_view name) const override {
    auto it = resources.find(name);
    if (it == resources.end()) return fail(Error::EmbeddedResourceNotFound);
    return it->second;
  }
};

inline const char* kManifest = R"json({
  "version": "1.0", "description": "test",
  "files": [
    {"relativePath": "ME\\modules\\a.lua", "patches": [
      {"id": "a_one", "marker": "QORVEX_PATCH:ONE", "anchorAfter": "local x = 1", "insertText": "\nlocal y = 2"},
      {"id": "toolbar_init_call", "marker": "QORVEX_PATCH:INIT_CALL", "anchorAfter": "init()", "insertText": "qorvex.init()"}
    ]},
    {"relativePath": "ME\\modules\\missing.lua", "patches": [
      {"id": "m", "marker": "QORVEX_PATCH:M", "anchorAfter": "x"}
    ]}
  ],
  "dlgFiles": [
    {"relativePath": "ME\\modules\\d.dlg", "insertBlockResource": "panel.txt", "anchorBefore": "\t[\"pMap\"] = {"}
  ]
})json";

inline const std::string kLua = "local x = 1\r\nfunction f()\r\n\tinit()\r\nend\r\n";
inline const std::string kDlg = "dialog = {\n\t[\"pMap\"] = {\n\t},\n}\n";

struct Fixture {
  MemoryFileSystem fs;
  StringPayload payload;
  StringLogSink sink;
  RunLog log{&sink};

  Fixture() {
    payload.manifest = kManifest;
    payload.resources["panel.txt"] = "\t[\"pQ\"] = {\n\t},\n";
    fs.addFile("ME\\modules\\a.lua", kLua);
    fs.addFile("ME\\modules\\d.dlg", kDlg);
  }

  RunResult go(bool uninstall, bool dryRun) {
    sink.clear();
    return run(RunRequest{"/game", uninstall, dryRun}, fs, payload, log, fs.clock, fs.clock);
  }
};

}  // namespace qorvex::testing
