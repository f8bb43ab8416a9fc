#include "controls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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

TEST(ControlTable, ScalingRoundsToTheNearestPixel) {
  struct Case {
    int value;
    unsigned dpi;
    int scaled;
  };
  const Case cases[] = {
      {18, 96, 18},   {18, 144, 27},  {18, 192, 36},    {18, 120, 23},   {7, 144, 11},
      {5, 120, 6},    {-14, 96, -14}, {-14, 144, -21},  {-14, 120, -18}, {-16, 192, -32},
      {-7, 144, -11}, {0, 288, 0},    {664, 168, 1162}, {1, 72, 1},      {1, 47, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scaleForDpi(c.value, c.dpi), c.scaled) << c.value << " at " << c.dpi;
  }
}

TEST(ControlTable, ScaledPlacesStayWithinHalfAPixelAndSeparatorsSpanTheWindow) {
  for (unsigned dpi : {96u, 110u, 120u, 144u, 168u, 192u, 240u, 288u}) {
    const ControlRect client = scaledClientArea(dpi);
    EXPECT_EQ(client.w, scaleForDpi(664, dpi));
    EXPECT_EQ(client.h, scaleForDpi(480, dpi));
    for (const ControlSpec& spec : kControls) {
      const ControlRect r = scaledPlace(spec, dpi);
      const double f = dpi / 96.0;
      SCOPED_TRACE(std::to_string(static_cast<int>(spec.id)) + " at " + std::to_string(dpi));
      EXPECT_LE(std::abs(r.x - spec.x * f), 0.5);
      EXPECT_LE(std::abs(r.y - spec.y * f), 0.5);
      EXPECT_LE(std::abs(r.x + r.w - (spec.x + spec.w) * f), 0.5);
      EXPECT_LE(std::abs(r.y + r.h - (spec.y + spec.h) * f), 0.5);
      if (dpi == 96) {
        EXPECT_EQ(r, (ControlRect{spec.x, spec.y, spec.w, spec.h}));
      }
      if (spec.id == ControlId::TopSeparator || spec.id == ControlId::BottomSeparator) {
        EXPECT_EQ(r.x, 0);
        EXPECT_EQ(r.w, client.w);
      }
    }
    // Buttons that share an edge at 96 DPI still share it.
    EXPECT_EQ(scaledPlace(controlSpec(ControlId::DirEdit), dpi).y,
              scaledPlace(controlSpec(ControlId::BrowseButton), dpi).y);
    EXPECT_EQ(scaledPlace(controlSpec(ControlId::DirEdit), dpi).h,
              scaledPlace(controlSpec(ControlId::BrowseButton), dpi).h);
    const ControlRect browse = scaledPlace(controlSpec(ControlId::BrowseButton), dpi);
    const ControlRect cancel = scaledPlace(controlSpec(ControlId::CancelButton), dpi);
    EXPECT_EQ(browse.x + browse.w, cancel.x + cancel.w);
  }
}

TEST(ControlTable, FontsScaleTheirHeightOnly) {
  EXPECT_EQ(scaledFont(kNormalFont, 96), (FontSpec{u"Segoe UI", -14, 400}));
  EXPECT_EQ(scaledFont(kTitleFont, 96), (FontSpec{u"Segoe UI", -16, 700}));
  EXPECT_EQ(scaledFont(kNormalFont, 144), (FontSpec{u"Segoe UI", -21, 400}));
  EXPECT_EQ(scaledFont(kTitleFont, 144), (FontSpec{u"Segoe UI", -24, 700}));
  EXPECT_EQ(scaledFont(kNormalFont, 192), (FontSpec{u"Segoe UI", -28, 400}));
  EXPECT_EQ(scaledFont(kTitleFont, 192), (FontSpec{u"Segoe UI", -32, 700}));
}

TEST(ControlTable, LookupByIdFindsEachRow) {
  for (const ControlSpec& spec : kControls) EXPECT_EQ(&controlSpec(spec.id), &spec);
}

}  // namespace
}  // namespace qorvex::wizard::testing
