#include "survey.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nearest_text.h"
#include "patch_block.h"
#include "run_fixture.h"

namespace qorvex {
namespace {

using testing::Fault;
using testing::Fixture;
using testing::kDlg;
using testing::kLua;
using testing::Op;

const std::string kA = "ME\\modules\\a.lua";
const std::string kD = "ME\\modules\\d.dlg";
const std::string kModule = "MissionEditor\\modules\\me_qorvex_undo.lua";

// "file [id]: state" for every entry, then the module and the verdict.
std::string describe(const SurveyReport& report) {
  std::string out;
  for (const auto* list : {&report.entries, &report.dialogs}) {
    for (const EntryReport& e : *list)
      out += e.file + " [" + e.id + "]: " + std::string(entryStateName(e.state)) + "\n";
  }
  out += "module: " + std::string(moduleStateName(report.module)) + "\n";
  return out + "verdict: " + std::string(verdictName(report.verdict)) + "\n";
}

// Every state and verdict, each from an install shaped to give it; the
// survey writes nothing in any of them.
TEST(Survey, StatesAndVerdicts) {
  const std::string applied = "[a_one]: applied\n" + kA + " [toolbar_init_call]: applied\n" + kD +
                              " [panel.txt]: applied\n";
  struct Case {
    const char* name;
    void (*arrange)(Fixture&);
    std::string expected;
  };
  const Case cases[] = {
      {"fresh", [](Fixture&) {},
       kA + " [a_one]: pending\n" + kA + " [toolbar_init_call]: pending\n" +
           "ME\\modules\\missing.lua [m]: file-missing\n" + kD + " [panel.txt]: pending\n" +
           "module: absent\nverdict: blocked\n"},
      {"installed", [](Fixture& f) { f.go(false, false); },
       kA + " " + applied + "module: current\nverdict: installed\n"},
      {"one file back to stock by an update",
       [](Fixture& f) {
         f.go(false, false);
         f.fs.files[kA] = kLua;
       },
       kA + " [a_one]: pending\n" + kA + " [toolbar_init_call]: pending\n" + kD +
           " [panel.txt]: applied\nmodule: current\nverdict: partial\n"},
      {"module outdated, a block edited by hand",
       [](Fixture& f) {
         f.go(false, false);
         f.fs.files[kModule] += "-- edited\n";
         const std::string old = "qorvex.init()";
         f.fs.files[kA].replace(f.fs.files[kA].find(old), old.size(), "qorvex.start()");
       },
       kA + " [a_one]: applied\n" + kA + " [toolbar_init_call]: applied-outdated\n" + kD +
           " [panel.txt]: applied\nmodule: outdated\nverdict: partial\n"},
      {"text there without markers",
       [](Fixture& f) {
         f.fs.files[kA] = "local x = 1\nlocal y = 2\nfunction f()\n\tinit()qorvex.init()\nend\n";
       },
       kA + " [a_one]: present-unmarked\n" + kA + " [toolbar_init_call]: present-unmarked\n" + kD +
           " [panel.txt]: pending\nmodule: absent\nverdict: not-installed\n"},
      {"anchor twice, a file unreadable",
       [](Fixture& f) {
         f.fs.files[kA] = "local x = 1\nlocal x = 1\ninit()\n";
         // autoupdate.cfg, the module, a.lua, then d.dlg
         f.fs.faults.push_back(Fault{Op::Read, 4, Error::AccessDenied});
       },
       kA + " [a_one]: anchor-ambiguous\n" + kA + " [toolbar_init_call]: pending\n" + kD +
           " [panel.txt]: unreadable\nmodule: absent\nverdict: blocked\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    // The missing file of the fixture makes every install blocked; only the
    // first case keeps it.
    if (std::string(c.name) != "fresh") {
      f.payload.manifest.replace(
          f.payload.manifest.find(",\n    {\"relativePath\": \"ME\\\\modules\\\\missing.lua\""),
          std::string(",\n    {\"relativePath\": \"ME\\\\modules\\\\missing.lua\", \"patches\": [\n"
                      "      {\"id\": \"m\", \"marker\": \"QORVEX_PATCH:M\", \"anchorAfter\": "
                      "\"x\"}\n    ]}")
              .size(),
          "");
    }
    c.arrange(f);
    f.fs.journal.clear();
    auto report = surveyInstall("/game", f.fs, f.payload);
    ASSERT_TRUE(report);
    EXPECT_EQ(describe(*report), c.expected);
    EXPECT_TRUE(f.fs.wroteNothing());
  }
}

TEST(Survey, DetailsOfAmbiguousAndMissingAnchorsAndTheGameVersion) {
  Fixture f;
  f.fs.files[kA] = "local x = 1\r\n-- a\r\nlocal x = 1\nfunction f()\n\tinit2()\nend\n";
  f.fs.addFile(
      "autoupdate.cfg",
      R"({"version": "2.9.3.51704", "arch": "x86_64", "lang": "EN", "branch": "openbeta"})");
  auto report = surveyInstall("/game", f.fs, f.payload);
  ASSERT_TRUE(report);
  ASSERT_EQ(report->entries.size(), 3u);
  EXPECT_EQ(report->entries[0].matchLines, (std::vector<std::size_t>{1, 3}));
  // One word, renamed: nothing of it is left to find.
  ASSERT_TRUE(report->entries[1].nearest);
  EXPECT_EQ(report->entries[1].nearest->anchorTokens, 1u);
  EXPECT_EQ(report->entries[1].nearest->matchedTokens, 0u);
  EXPECT_EQ(report->gameVersion, "2.9.3.51704");
  EXPECT_EQ(report->gameBranch, "openbeta");
  // A version file that is not what the updater writes gives no version.
  for (std::string text : {"not json", R"({"arch": "x86_64"})", R"({"version": 2})", R"([1, 2])"}) {
    f.fs.files["autoupdate.cfg"] = text;
    auto other = surveyInstall("/game", f.fs, f.payload);
    ASSERT_TRUE(other) << text;
    EXPECT_FALSE(other->gameVersion) << text;
  }
}

// The place a person finds for an anchor that a game update changed, and
// what changed there.
TEST(NearestText, FindsWhereTheAnchorWent) {
  struct Case {
    const char* name;
    std::string text;
    std::string anchor;
    std::size_t line;
    std::size_t matched;
    std::string diff;
  };
  const std::string before = "local a = 1\nlocal b = 2\nfunction other()\nend\n";
  const Case cases[] = {
      {"a renamed local", before + "\tlocal newName = panel:getValue()\n\tself:update(newName)\n",
       "\tlocal oldName = panel:getValue()\n\tself:update(oldName)", 5, 9,
       "\\tlocal·[-oldName-]{+newName+}·=·panel:getValue()\\n\\t[-self:update(oldName)-]{+self:"
       "update(newName)+}"},
      {"lost trailing blanks", before + "\tif ready then\n\t\tgo()\n\tend\n",
       "\tif ready then  \n\t\tgo()\n\tend", 5, 12, "…ready·then[-··-]\\n\\t\\tgo()…"},
      {"an inserted line", before + "\tif ready then\n\t\t-- new\n\t\tgo()\n\tend\n",
       "\tif ready then\n\t\tgo()\n\tend", 5, 12, "…ready·then{+\\n\\t\\t--·new+}\\n\\t\\tgo()…"},
      {"a moved block", before + "\tfirst()\n\tthird()\nend\n\tsecond()\n",
       "\tfirst()\n\tsecond()\n\tthird()", 5, 5, "\\tfirst()[-\\n\\tsecond()-]\\n\\tthird()"},
      {"nothing alike", before, "zzz yyy", 1, 1, "[-zzz-]{+=+}·[-yyy-]{+1+}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto nearest = findNearestText(c.text, c.anchor);
    ASSERT_TRUE(nearest);
    EXPECT_EQ(nearest->line, c.line);
    EXPECT_EQ(nearest->matchedTokens, c.matched);
    EXPECT_EQ(nearest->diff, c.diff);
  }
  // Ties go to the first place.
  auto tie = findNearestText("x = 2\ny = 3\nx = 2\n", "x = 1");
  ASSERT_TRUE(tie);
  EXPECT_EQ(tie->line, 1u);
}

}  // namespace
}  // namespace qorvex
