// The install pass decides every entry of a file on one working copy: BEGIN
// lines found once, blocks inserted in place, the CR layout kept up to date.
// Here it is compared with the plainest reading of the rules, which searches
// the whole text afresh for each entry, on files made to tempt the shortcuts:
// blocks that hold a later entry's anchor (so that it becomes ambiguous, or
// only now matches), blocks that land inside a later entry's match (so that
// it no longer matches), overlapping and repeated anchors, texts that are
// already there without markers, CR LF, LF and lone CR line ends.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "log_texts.h"
#include "memory_file_system.h"
#include "patch_block.h"
#include "reference_text.h"
#include "run_fixture.h"
#include "run.h"

namespace qorvex {
namespace {

using testing::MemoryFileSystem;

constexpr std::string_view kPath = "MissionEditor\\modules\\me_file.lua";

struct Entry {
  std::string marker, anchor, text;
};

std::string json(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

// The rules read plainly: each entry searches the text as the entries before
// it left it.
struct Expected {
  std::string text;
  std::vector<std::string> errors;
  unsigned applied = 0;
};
Expected entryByEntry(std::string text, const std::vector<Entry>& entries) {
  Expected out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    std::string id = "e";
    id += std::to_string(i);
    if (text.find(formatBeginLine(e.marker)) != std::string::npos) continue;
    if (!e.text.empty() && !text.empty() && containsIgnoringCrReference(text, e.text)) continue;
    const AnchorSearch found = findAnchorReference(text, e.anchor, AnchorEnd::End);
    if (found.kind == AnchorSearch::Unique) {
      const std::string block = buildPatchBlock(e.marker, e.text);
      text.replace(found.offset, 0, block);
      ++out.applied;
    } else if (found.kind == AnchorSearch::NotFound) {
      out.errors.push_back(texts::luaAnchorNotFound(kPath, id));
    } else {
      out.errors.push_back(texts::luaAnchorAmbiguous(kPath, id, found.count));
    }
  }
  out.text = std::move(text);
  return out;
}

TEST(EntryOrder, OneWorkingCopyDecidesAsRescansWould) {
  std::mt19937 random(41);
  auto pick = [&](std::initializer_list<const char*> items) {
    return std::string(items.begin()[random() % items.size()]);
  };
  auto lineEnd = [&](int style) {
    return style == 0   ? std::string("\n")
           : style == 1 ? std::string("\r\n")
                        : pick({"\n", "\r\n", "\r"});
  };
  unsigned sawAmbiguous = 0, sawMissing = 0, sawBlockAnchors = 0;
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int style = static_cast<int>(random() % 3);
    // Few words, so that anchors repeat and overlap.
    std::string stock;
    for (int line = 0, lines = 2 + static_cast<int>(random() % 8); line < lines; ++line) {
      for (int w = 0, words = 1 + static_cast<int>(random() % 4); w < words; ++w) {
        if (w > 0) stock += pick({" ", "\t", "  "});
        stock += pick({"a", "b", "ab", "end", "x1"});
      }
      stock += lineEnd(style);
    }
    std::vector<Entry> entries;
    for (int i = 0, n = 1 + static_cast<int>(random() % 5); i < n; ++i) {
      Entry e;
      e.marker = "QORVEX_PATCH:M" + std::to_string(random() % 4 == 0 ? 0 : i);
      // Texts made of the stock's own words: a block can make or break a
      // later entry's anchor, or already be in the file.
      for (int w = 0, words = static_cast<int>(random() % 4); w < words; ++w) {
        e.text += pick({"a", "b", "ab", "end", "x1", "a b", "b\na", "qv", "qv a"});
        e.text += lineEnd(style);
      }
      for (int w = 0, words = 1 + static_cast<int>(random() % 3); w < words; ++w) {
        if (w > 0) e.anchor += pick({" ", "\n", "\r\n"});
        e.anchor += pick({"a", "b", "ab", "end", "x1", "qv"});
      }
      entries.push_back(std::move(e));
    }

    std::string manifest =
        "{\"version\":\"1\",\"description\":\"d\",\"files\":[{\"relativePath\":" + json(kPath) +
        ",\"patches\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i > 0) manifest += ",";
      std::string id = "e";
      id += std::to_string(i);
      manifest += "{\"id\":" + json(id) + ",\"marker\":" + json(entries[i].marker) +
                  ",\"anchorAfter\":" + json(entries[i].anchor) +
                  ",\"insertText\":" + json(entries[i].text) + "}";
    }
    manifest += "]}],\"dlgFiles\":[]}";

    MemoryFileSystem fs;
    fs.addFile(std::string(kPath), stock);
    testing::StringPayload payload;
    payload.manifest = manifest;
    StringLogSink sink;
    RunLog log(&sink);
    const RunResult result =
        run(RunRequest{"/game", false, false}, fs, payload, log, fs.clock, fs.clock);
    ASSERT_FALSE(result.fatal) << sink.text();

    const Expected expected = entryByEntry(stock, entries);
    ASSERT_EQ(result.summary.errors, expected.errors) << sink.text();
    ASSERT_EQ(fs.files.at(std::string(kPath)), expected.applied > 0 ? expected.text : stock)
        << "stock [" << stock << "]\n"
        << manifest;
    for (const std::string& error : expected.errors) {
      sawAmbiguous += error.find("ambiguous") != std::string::npos;
      sawMissing += error.find("not found") != std::string::npos;
    }
    // An anchor that only a block provides: it is missing from the stock file.
    for (const Entry& e : entries) {
      sawBlockAnchors +=
          findAnchorReference(stock, e.anchor, AnchorEnd::End).kind == AnchorSearch::NotFound &&
          findAnchorReference(expected.text, e.anchor, AnchorEnd::End).kind !=
              AnchorSearch::NotFound;
    }
  }
  // The rounds reached the cases they are for.
  EXPECT_GT(sawAmbiguous, 200u);
  EXPECT_GT(sawMissing, 200u);
  EXPECT_GT(sawBlockAnchors, 40u);
}

}  // namespace
}  // namespace qorvex
