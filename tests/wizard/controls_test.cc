#include "controls.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fake_platform.h"

namespace qorvex::wizard::testing {
namespace {

// One line per control: id class x y w h style font "text".
std::string describe(const ControlSpec& spec) {
  char line[160];
  std::snprintf(line, sizeof line, "%d %s %d %d %d %d %08x %s \"%s\"", static_cast<int>(spec.id),
                utf8(spec.className).c_str(), spec.x, spec.y, spec.w, spec.h, spec.style,
                !spec.hasFont                  ? "-"
                : spec.font == FontKind::Title ? "title"
                                               : "normal",
                utf8(spec.text).c_str());
  return line;
}

TEST(ControlTable, EveryControlInCreationOrder) {
  std::vector<std::string> rows;
  for (const ControlSpec& spec : kControls) rows.push_back(describe(spec));
  const std::vector<std::string> expected = {
      "90 STATIC 18 12 628 20 50000000 title \"License Agreement\"",
      "91 STATIC 18 34 628 18 50000000 normal \"Please read the following important "
      "information before continuing.\"",
      "92 STATIC 0 58 664 2 50000010 - \"\"",
      "100 EDIT 18 74 628 282 40a01844 normal \"\"",
      "101 BUTTON 18 368 628 20 40030009 normal \"I accept the agreement\"",
      "102 BUTTON 18 392 628 20 40010009 normal \"I do not accept the agreement\"",
      "110 STATIC 18 74 628 18 40000000 normal \"Game install directory:\"",
      "111 EDIT 18 96 528 24 40810000 normal \"\"",
      "112 BUTTON 556 96 90 24 40010000 normal \"Browse...\"",
      "113 BUTTON 18 138 628 20 40030009 normal \"Dry run (logging only)\"",
      "114 BUTTON 18 162 628 20 40010009 normal \"Install\"",
      "115 BUTTON 18 186 628 20 40010009 normal \"Uninstall\"",
      "116 STATIC 18 218 200 18 40000000 normal \"Log:\"",
      "117 EDIT 18 238 628 174 40a01844 normal \"\"",
      "93 STATIC 0 424 664 2 50000010 - \"\"",
      "122 BUTTON 360 438 90 28 40010000 normal \"< Back\"",
      "120 BUTTON 458 438 90 28 50010000 normal \"Next\"",
      "121 BUTTON 556 438 90 28 50010000 normal \"Cancel\"",
  };
  EXPECT_EQ(rows, expected);
}

TEST(ControlTable, LookupByIdFindsEachRow) {
  for (const ControlSpec& spec : kControls) EXPECT_EQ(&controlSpec(spec.id), &spec);
}

}  // namespace
}  // namespace qorvex::wizard::testing
