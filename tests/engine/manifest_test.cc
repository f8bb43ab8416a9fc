#include "manifest.h"

#include "compiled_manifest.h"
#include "payload.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace qorvex {
namespace {

const std::string kEntry = R"({"id": "a_b", "marker": "QORVEX_PATCH:B", "anchorAfter": "x\ty"})";

std::string manifestWith(const std::string& patches, const std::string& extraTop = "") {
  return R"({"version": "1.0", "description": "d", )" + extraTop +
         R"("files": [{"relativePath": "M\\a.lua", "patches": [)" + patches +
         R"(]}], "dlgFiles": [{"relativePath": "M\\d.dlg", "insertBlockResource": "p.txt", "anchorBefore": "x"}]})";
}

std::string outcome(std::string_view text) {
  auto parsed = parseManifest(text);
  return parsed ? "ok" : std::string(errorName(parsed.error()));
}

TEST(Manifest, ParsesEveryFieldAndConvertsInOrder) {
  auto parsed = parseManifest(manifestWith(
      kEntry + R"(, {"id": "c", "marker": "M2", "anchorAfter": "z", "anchorAfterOccurrence": 1,
                  "insertTextBefore": "", "insertText": "body\n", "note": [1, {"k": null}]},
                  {"id": "d", "marker": "M3", "anchorAfter": "w", "insertTextBefore": "before",
                   "insertText": "after"})"));
  ASSERT_TRUE(parsed) << errorName(parsed.error());
  EXPECT_EQ(parsed->version, "1.0");
  ASSERT_EQ(parsed->files.size(), 1u);
  EXPECT_EQ(parsed->files[0].relativePath, "M\\a.lua");
  ASSERT_EQ(parsed->files[0].patches.size(), 3u);
  EXPECT_EQ(parsed->files[0].patches[0].anchorAfter, "x\ty");
  EXPECT_EQ(parsed->files[0].patches[1].anchorAfterOccurrence, 1);
  auto engine = toEngineForm(std::move(*parsed), "module");
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->moduleText, "module");
  EXPECT_EQ(engine->files[0].patches[0].text, "");
  EXPECT_EQ(engine->files[0].patches[1].text, "body\n");
  EXPECT_EQ(engine->files[0].patches[2].text, "before");
  EXPECT_EQ(engine->files[0].patches[2].anchor, "w");
  ASSERT_EQ(engine->dlgFiles.size(), 1u);
  EXPECT_EQ(engine->dlgFiles[0].insertBlockResource, "p.txt");
}

// The carried manifest is read at build time into the engine's form; a run
// must get from it exactly what parsing the carried text would give.
TEST(Manifest, CompiledFormEqualsTheParsedOne) {
  EmbeddedPayload payload;
  auto text = payload.manifestText();
  ASSERT_TRUE(text);
  auto parsed = parseManifest(*text);
  ASSERT_TRUE(parsed) << errorName(parsed.error());
  auto expected = toEngineForm(std::move(*parsed), "module");
  ASSERT_TRUE(payload.compiledManifest() != nullptr);
  auto compiled = toEngineForm(*payload.compiledManifest(), "module");
  ASSERT_TRUE(expected && compiled);
  ASSERT_EQ(compiled->files.size(), expected->files.size());
  for (std::size_t f = 0; f < expected->files.size(); ++f) {
    const FileEntry& want = expected->files[f];
    const FileEntry& got = compiled->files[f];
    EXPECT_EQ(got.relativePath, want.relativePath);
    ASSERT_EQ(got.patches.size(), want.patches.size()) << want.relativePath;
    for (std::size_t p = 0; p < want.patches.size(); ++p) {
      EXPECT_EQ(got.patches[p].id, want.patches[p].id);
      EXPECT_EQ(got.patches[p].marker, want.patches[p].marker) << want.patches[p].id;
      EXPECT_EQ(got.patches[p].anchor, want.patches[p].anchor) << want.patches[p].id;
      EXPECT_EQ(got.patches[p].text, want.patches[p].text) << want.patches[p].id;
    }
  }
  ASSERT_EQ(compiled->dlgFiles.size(), expected->dlgFiles.size());
  for (std::size_t d = 0; d < expected->dlgFiles.size(); ++d) {
    EXPECT_EQ(compiled->dlgFiles[d].relativePath, expected->dlgFiles[d].relativePath);
    EXPECT_EQ(compiled->dlgFiles[d].insertBlockResource,
              expected->dlgFiles[d].insertBlockResource);
    EXPECT_EQ(compiled->dlgFiles[d].anchorBefore, expected->dlgFiles[d].anchorBefore);
  }
}

TEST(Manifest, StringEscapesDecode) {
  auto parsed = parseManifest(manifestWith(
      R"({"id": "\u0041\u00e9\ud83d\ude00", "marker": "\"\\\/\b\f\n\r\t", "anchorAfter": "é"})"));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->files[0].patches[0].id, "A\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(parsed->files[0].patches[0].marker, "\"\\/\b\f\n\r\t");
  EXPECT_EQ(parsed->files[0].patches[0].anchorAfter, "\xC3\xA9");
}

// Plain runs are copied sixteen bytes at a time: a byte that ends one must be
// seen wherever it falls in a step, and in the bytes after the last step.
TEST(Manifest, StringStopsAreSeenAtEveryOffset) {
  struct Stop {
    std::string json;     // as it stands in the manifest
    std::string decoded;  // empty: the manifest is refused
    std::string_view error;
  };
  const Stop stops[] = {
      {R"(\n)", "\n", ""},
      {R"(\")", "\"", ""},
      {"\xC3\xA9", "\xC3\xA9", ""},
      {"\x7F", "\x7F", ""},
      {"\x1F", "", "SyntaxError"},
      {"\xC3", "", "SyntaxError"},
  };
  for (const Stop& stop : stops) {
    for (std::size_t before = 0; before <= 40; ++before) {
      for (std::size_t after : {std::size_t{0}, std::size_t{3}, std::size_t{17}}) {
        const std::string plain(before, 'x'), tail(after, 'y');
        const std::string text =
            manifestWith(R"({"id": "a", "marker": "M", "anchorAfter": ")" + plain + stop.json +
                         tail + R"("})");
        auto parsed = parseManifest(text);
        if (stop.decoded.empty()) {
          ASSERT_FALSE(parsed) << before << " " << after;
          EXPECT_EQ(errorName(parsed.error()), stop.error);
          continue;
        }
        ASSERT_TRUE(parsed) << before << " " << after << " " << errorName(parsed.error());
        EXPECT_EQ(parsed->files[0].patches[0].anchorAfter, plain + stop.decoded + tail)
            << before << " " << after;
      }
    }
  }
}

TEST(Manifest, RulesAndErrorNames) {
  struct C {
    std::string text;
    std::string expected;
  };
  const std::string dlg = R"("dlgFiles": [])";
  const C cases[] = {
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[]})", "ok"},
      {R"( {"version":"1","description":"d","files":[],"dlgFiles":[]} )"
       "\n",
       "ok"},
      {R"({"version":"1","description":"d","files":[]})", "MissingField"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],"version":"2"})",
       "DuplicateField"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],"x":1,"x":1})",
       "DuplicateField"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],"x":{"a":[1,2.5e3,true,false,null,"s"]}})",
       "ok"},
      {R"({"version":1,"description":"d","files":[],"dlgFiles":[]})", "UnexpectedToken"},
      {R"({"version":null,"description":"d","files":[],"dlgFiles":[]})", "UnexpectedToken"},
      {R"({"version":"1","description":"d","files":{},"dlgFiles":[]})", "UnexpectedToken"},
      {R"({"version":"1","description":"d","files":[1],"dlgFiles":[]})", "UnexpectedToken"},
      {R"([])", "UnexpectedToken"},
      {R"("text")", "UnexpectedToken"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[]} {})", "SyntaxError"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],})", "SyntaxError"},
      {R"({"version":"1" "description":"d"})", "SyntaxError"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],"x":tru})", "SyntaxError"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],"x":01})", "SyntaxError"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],"x":"\q"})", "SyntaxError"},
      {"{\"version\":\"a\tb\",\"description\":\"d\",\"files\":[],\"dlgFiles\":[]}", "SyntaxError"},
      {"{\"version\":\"\xff\",\"description\":\"d\",\"files\":[],\"dlgFiles\":[]}", "SyntaxError"},
      {R"({"version":"\udc00","description":"d","files":[],"dlgFiles":[]})", "SyntaxError"},
      {"\xEF\xBB\xBF{}", "SyntaxError"},
      {"", "UnexpectedEndOfInput"},
      {"   ", "UnexpectedEndOfInput"},
      {R"({"version":"1")", "UnexpectedEndOfInput"},
      {R"({"version":"1)", "UnexpectedEndOfInput"},
      {R"({"version":"1","description":"d","files":[],"dlgFiles":[],"x":tr)",
       "UnexpectedEndOfInput"},
      // A wrong type early wins over a syntax error later.
      {R"({"version":1,"description":"d",)", "UnexpectedToken"},
      // A malformed value of the wrong type is a syntax error.
      {R"({"version":nul,"description":"d","files":[],"dlgFiles":[]})", "SyntaxError"},
  };
  for (const C& c : cases) EXPECT_EQ(outcome(c.text), c.expected) << c.text;
}

TEST(Manifest, PatchEntryRules) {
  const std::string base = R"("id": "i", "marker": "m", "anchorAfter": "a")";
  struct C {
    std::string fields;
    std::string expected;
  };
  const C cases[] = {
      {base, "ok"},
      {base + R"(, "marker": "m")", "DuplicateField"},
      {R"("id": "i", "anchorAfter": "a")", "MissingField"},
      {base + R"(, "anchorAfterOccurrence": null)", "ok"},
      {base + R"(, "anchorAfterOccurrence": 1)", "ok"},
      {base + R"(, "anchorAfterOccurrence": 1.0)", "ok"},
      {base + R"(, "anchorAfterOccurrence": 2e3)", "ok"},
      {base + R"(, "anchorAfterOccurrence": -9223372036854775808)", "ok"},
      {base + R"(, "anchorAfterOccurrence": 9223372036854775807)", "ok"},
      {base + R"(, "anchorAfterOccurrence": 1.5)", "InvalidNumber"},
      {base + R"(, "anchorAfterOccurrence": 1e-1)", "InvalidNumber"},
      {base + R"(, "anchorAfterOccurrence": 9223372036854775808)", "Overflow"},
      {base + R"(, "anchorAfterOccurrence": -9223372036854775809)", "Overflow"},
      {base + R"(, "anchorAfterOccurrence": 1e19)", "Overflow"},
      {base + R"(, "anchorAfterOccurrence": "1")", "UnexpectedToken"},
      {base + R"(, "insertText": null, "insertTextBefore": null)", "ok"},
      {base + R"(, "insertText": 5)", "UnexpectedToken"},
      {base + R"(, "unknown": {"deep": [[[]]]})", "ok"},
  };
  for (const C& c : cases) {
    EXPECT_EQ(outcome(manifestWith("{" + c.fields + "}")), c.expected) << c.fields;
  }
  auto a = parseManifest(
      manifestWith("{" + base + R"(, "anchorAfterOccurrence": -9223372036854775808})"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->files[0].patches[0].anchorAfterOccurrence, INT64_MIN);
}

TEST(Manifest, DeepNestingInAnUnknownValueDoesNotExhaustTheStack) {
  std::string deep(200000, '[');
  deep += std::string(200000, ']');
  EXPECT_EQ(
      outcome(R"({"x":)" + deep + R"(,"version":"1","description":"d","files":[],"dlgFiles":[]})"),
      "ok");
  EXPECT_EQ(outcome(R"({"x":)" + std::string(100000, '[')), "UnexpectedEndOfInput");
}

}  // namespace
}  // namespace qorvex

namespace qorvex {
namespace {

// The duplicate-key check grows with the number of keys, not with its
// square: 300,000 unknown keys (about 4 MB) are read in well under a second
// of processor time, where checking each key against all before it took
// minutes.
TEST(Manifest, ManyUnknownKeysAreReadInLinearTime) {
  std::string unknown;
  for (int i = 0; i < 300000; ++i)
    unknown += "\"unknown" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
  const std::string text = manifestWith(kEntry, unknown);
  const std::clock_t started = std::clock();
  auto parsed = parseManifest(text);
  const double seconds = double(std::clock() - started) / CLOCKS_PER_SEC;
  ASSERT_TRUE(parsed);
  // Instrumented builds run several times slower.
  EXPECT_LT(seconds, std::getenv("QORVEX_SANITIZED") ? 5.0 : 1.0);
  // A repeated one among them is still found.
  EXPECT_EQ(parseManifest(manifestWith(kEntry, unknown + "\"unknown7\": 1, ")),
            fail(Error::DuplicateField));
}

}  // namespace
}  // namespace qorvex
