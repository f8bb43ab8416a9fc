#include "manifest_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "manifest.h"
#include "passes.h"
#include "payload.h"
#include "run_fixture.h"

namespace qorvex {
namespace {

const std::string kHead = R"({"version":"1","description":"d",)";

std::string placeOf(const ManifestDiagnostic& d) {
  return std::to_string(d.line) + ":" + std::to_string(d.column) + " " + d.entry +
         (d.key.empty() ? "" : " " + d.key);
}

// The place of the error, and that it is the error a run reports.
TEST(ManifestCheck, ErrorsArePlacedAndNamedAsTheRunNamesThem) {
  struct C {
    std::string text;
    ManifestIssue issue;
    std::string place;
  };
  const C cases[] = {
      // CR LF, a lone CR and LF each end a line; columns count characters.
      {kHead + "\r\n\"a\":\"\xC3\xA9\",\r\"files\":[1]}", ManifestIssue::ExpectedObject,
       "3:10 files[0]"},
      {"{\"k\xC3\xA9\xF0\x9F\x98\x80\":1 \"b\":2}", ManifestIssue::ExpectedCommaOrBrace, "1:10 "},
      {R"({"x":[0,{"a":1,"a":2}]})", ManifestIssue::DuplicateKey, "1:16 x[1].a"},
      {R"({"a\tb":{"c.d":1,"c.d":1}})", ManifestIssue::DuplicateKey, R"(1:18 ["a\tb"]["c.d"])"},
      {R"({"x":[1,]})", ManifestIssue::TrailingComma, "1:8 x"},
      {kHead + R"("files":[{"relativePath":"a","patches":[{"id":"i"}]}],"dlgFiles":[]})",
       ManifestIssue::MissingKey, "1:74 files[0].patches[0] marker"},
      {kHead + R"("files":[{"relativePath":"a)", ManifestIssue::UnexpectedEnd,
       "1:61 files[0].relativePath"},
      {kHead + R"("files":[],"dlgFiles":[]} [)", ManifestIssue::TrailingText, "1:60 "},
      {kHead +
           R"("files":[{"relativePath":"a","patches":[{"id":"i","marker":"m","anchorAfter":"a",)"
           R"("anchorAfterOccurrence":0.5}]}],"dlgFiles":[]})",
       ManifestIssue::FractionalNumber, "1:139 files[0].patches[0].anchorAfterOccurrence"},
      {kHead + R"("files":[],"dlgFiles":[],"version":"2"})", ManifestIssue::DuplicateKey,
       "1:59 version"},
      {R"({"version":"\u12G4"})", ManifestIssue::BadUnicodeEscape, "1:13 version"},
      // Paths are checked once the text is read, Lua files first, as the run does.
      {R"({"dlgFiles":[{"relativePath":"/d","insertBlockResource":"p","anchorBefore":"x"}],)"
       R"("files":[{"relativePath":"a\\..\\..","patches":[]}],"version":"1","description":"d"})",
       ManifestIssue::BadPath, "1:107 files[0].relativePath"},
      {kHead + R"("files":[{"relativePath":"..","patches":[]}],"dlgFiles":[] x)",
       ManifestIssue::ExpectedCommaOrBrace, "1:93 "},
  };
  for (const C& c : cases) {
    const ManifestCheck check = checkManifest(c.text);
    ASSERT_TRUE(check.error) << c.text;
    EXPECT_EQ(check.error->issue, c.issue) << c.text;
    EXPECT_EQ(placeOf(*check.error), c.place) << c.text;
    testing::StringPayload payload;
    payload.manifest = c.text;
    auto loaded = loadManifest(payload);
    ASSERT_FALSE(loaded) << c.text;
    EXPECT_EQ(errorName(manifestIssueError(c.issue)), errorName(loaded.error())) << c.text;
  }
}

TEST(ManifestCheck, WarningsComeInTextOrderAndTheCarriedManifestHasNone) {
  const ManifestCheck check = checkManifest(
      R"({"$schema":"s","version":"1","n":{"d":1},"description":"d","files":[{"relativePath":"a","patches":[)"
      R"({"id":"i","marker":"m","anchorAfter":"a","insertTextBefore":"","z":null}]}],"dlgFiles":[]})");
  EXPECT_FALSE(check.error);
  std::string places;
  for (const ManifestDiagnostic& w : check.warnings) places += placeOf(w) + "; ";
  EXPECT_EQ(places, "1:30 n; 1:100 files[0].patches[0]; 1:163 files[0].patches[0].z; ");
  EXPECT_EQ(check.warnings[1].issue, ManifestIssue::EmptyInsertText);

  const ManifestCheck carried = checkManifest(*findEmbeddedText(kManifestName));
  EXPECT_FALSE(carried.error);
  EXPECT_TRUE(carried.warnings.empty()) << placeOf(carried.warnings.front());
}

// Keys inside unknown values are checked for duplicates too, in one set for
// the whole text, so neither many keys nor many warnings cost quadratic time.
TEST(ManifestCheck, ManyKeysAreCheckedInLinearTime) {
  std::string keys;
  for (int i = 0; i < 100000; ++i)
    keys += "\"k" + std::to_string(i) + "\": {\"k\": " + std::to_string(i) + "}, ";
  const std::string unknownTop = kHead + keys + R"("files":[],"dlgFiles":[]})";
  const std::string insideUnknown =
      kHead + R"("x":{)" + keys + R"("k7":0},"files":[],"dlgFiles":[]})";
  const std::clock_t started = std::clock();
  const ManifestCheck many = checkManifest(unknownTop);
  const ManifestCheck duplicate = checkManifest(insideUnknown);
  const double seconds = double(std::clock() - started) / CLOCKS_PER_SEC;
  EXPECT_FALSE(many.error);
  EXPECT_EQ(many.warnings.size(), 100000u);
  ASSERT_TRUE(duplicate.error);
  EXPECT_EQ(duplicate.error->entry, "x.k7");
  EXPECT_EQ(parseManifest(insideUnknown), fail(Error::DuplicateField));
  EXPECT_LT(seconds, std::getenv("QORVEX_SANITIZED") ? 10.0 : 2.0);
}

}  // namespace
}  // namespace qorvex
