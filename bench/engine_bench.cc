// Scans over 16 MiB texts, typical and adversarial. Each benchmark reports
// bytes per second of the text scanned; the /4 and /16 variants (MiB) show
// that the time grows linearly with the size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "anchor_match.h"
#include "lua_balance.h"
#include "nearest_text.h"
#include "patch_block.h"

namespace qorvex {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Mission Editor-like Lua: functions, tables, strings, comments, tabs, CR LF.
std::string typicalLua(std::size_t size, bool crlf) {
  static const char* kWords[] = {
      "local",       "self", "window", "panel",        "value",   "vdata",
      "group",       "unit", "name",   "setBounds",    "getText", "module_mission",
      "U.toRadians", "base", "pMap",   "toggleButton", "width"};
  std::mt19937 random(42);
  auto word = [&] {
    return std::string(kWords[random() % std::size(kWords)]) + std::to_string(random() % 1000);
  };
  const std::string eol = crlf ? "\r\n" : "\n";
  std::string text;
  text.reserve(size + 256);
  while (text.size() < size) {
    text += "function " + word() + ":onChange()" + eol;
    text += "\tlocal " + word() + " = self:getValue()" + eol;
    text += "\t-- " + word() + " (keep " + word() + ")" + eol;
    text += "\tif " + word() + " == -1 then" + eol;
    text +=
        "\t\t" + word() + " = { [\"" + word() + "\"] = '" + word() + "', " + word() + " }" + eol;
    text += "\t\t" + word() + ":setBounds(0, 0, w*2, h)" + eol;
    text += "\tend" + eol + "end" + eol + eol;
  }
  text.resize(size);
  return text;
}

void setBytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes));
}

std::size_t sizeArg(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0)) * kMiB;
}

// --- findAnchor -----------------------------------------------------------

void BM_FindAnchor_Typical(benchmark::State& state) {
  std::string text = typicalLua(sizeArg(state), true);
  const std::string anchor =
      "\tif (h-nh-nhMC) < 753 then\n\t\twindow:setBounds(x, y, w*2, h)\n\t\tpanel:setBounds(0, 0, "
      "w*2, h)";
  text.replace(text.size() / 2, anchor.size(), anchor);
  for (auto _ : state) benchmark::DoNotOptimize(findAnchor(text, anchor, AnchorEnd::End));
  setBytes(state, text.size());
}

// Tab and space runs between line ends, against an anchor of blank and line
// break tokens that matches almost everywhere and fails at its last token.
void BM_FindAnchor_BlankRuns(benchmark::State& state) {
  std::string text;
  const std::size_t size = sizeArg(state);
  while (text.size() < size) text += " \t  \t\r\n\t \n";
  text.resize(size);
  std::string anchor;
  for (int i = 0; i < 200; ++i) anchor += " \n";
  anchor += "\n";
  for (auto _ : state) benchmark::DoNotOptimize(findAnchor(text, anchor, AnchorEnd::End));
  setBytes(state, text.size());
}

// One short word everywhere; the anchor repeats it and fails at its end.
void BM_FindAnchor_RepeatedWord(benchmark::State& state) {
  std::string text;
  const std::size_t size = sizeArg(state);
  while (text.size() < size) text += "end\n";
  text.resize(size);
  std::string anchor;
  for (int i = 0; i < 1000; ++i) anchor += "end\n";
  anchor += "end2";
  for (auto _ : state) benchmark::DoNotOptimize(findAnchor(text, anchor, AnchorEnd::End));
  setBytes(state, text.size());
}

// Few words far apart in long blank runs: every hit of the anchor's words
// walks a long stretch of blanks before it fails.
void BM_FindAnchor_SparseWords(benchmark::State& state) {
  const std::size_t size = sizeArg(state);
  const std::size_t gap = 4096;
  std::string text;
  while (text.size() < size) text += "x" + std::string(gap, ' ');
  text.resize(size);
  std::string anchor;
  for (int i = 0; i < 2000; ++i) anchor += "x ";
  anchor += "y";
  for (auto _ : state) benchmark::DoNotOptimize(findAnchor(text, anchor, AnchorEnd::End));
  setBytes(state, text.size());
}

// The anchor's longest word occurs at every byte, always inside a longer word.
void BM_FindAnchor_InsideWords(benchmark::State& state) {
  const std::string text(sizeArg(state), 'a');
  const std::string anchor = "x aaaa";
  for (auto _ : state) benchmark::DoNotOptimize(findAnchor(text, anchor, AnchorEnd::End));
  setBytes(state, text.size());
}

// An 11 KB anchor word that matches up to its last byte at every position.
void BM_FindAnchor_LongWordNearMiss(benchmark::State& state) {
  const std::string text(sizeArg(state), 'a');
  const std::string anchor = std::string(11 * 1024, 'a') + "b";
  for (auto _ : state) benchmark::DoNotOptimize(findAnchor(text, anchor, AnchorEnd::End));
  setBytes(state, text.size());
}

// --- containsIgnoringCr ---------------------------------------------------

void BM_ContainsIgnoringCr_Typical(benchmark::State& state) {
  const std::string text = typicalLua(sizeArg(state), true);
  const std::string needle = typicalLua(11 * 1024, false) + "-- not in the text\n";
  for (auto _ : state) benchmark::DoNotOptimize(containsIgnoringCr(text, needle));
  setBytes(state, text.size());
}

// An 11 KB needle that matches up to its last byte at every position, in a
// text with CR bytes spread through it.
void BM_ContainsIgnoringCr_NearMiss(benchmark::State& state) {
  std::string text;
  const std::size_t size = sizeArg(state);
  while (text.size() < size) text += "aaaaaaa\raaaaaaaa";
  text.resize(size);
  const std::string needle = std::string(11 * 1024, 'a') + "b";
  for (auto _ : state) benchmark::DoNotOptimize(containsIgnoringCr(text, needle));
  setBytes(state, text.size());
}

// --- checkLuaBalance ------------------------------------------------------

void BM_CheckLuaBalance_Typical(benchmark::State& state) {
  const std::string text = typicalLua(sizeArg(state), true);
  for (auto _ : state) benchmark::DoNotOptimize(checkLuaBalance(text));
  setBytes(state, text.size());
}

// Long strings nested in name only: a level-16 long string full of closers of
// every other level and of near-closers.
void BM_CheckLuaBalance_LongStrings(benchmark::State& state) {
  const std::size_t size = sizeArg(state);
  std::string text = "x = [================[";
  for (int level = 0; text.size() < size; level = (level + 1) % 16) {
    text.append("]").append(static_cast<std::size_t>(level), '=').append("] [[ ]=");
  }
  text.resize(size - 18);
  text += "]================]";
  for (auto _ : state) benchmark::DoNotOptimize(checkLuaBalance(text));
  setBytes(state, text.size());
}

// Brackets, quotes and dashes everywhere: every byte is one the scanner acts on.
void BM_CheckLuaBalance_DenseSymbols(benchmark::State& state) {
  const std::size_t size = sizeArg(state);
  std::string text;
  while (text.size() < size) text += "({[''\"\"]})-[=[]=]";
  text.resize(size / 16 * 16);
  for (auto _ : state) benchmark::DoNotOptimize(checkLuaBalance(text));
  setBytes(state, text.size());
}

// --- removeFirstPatchBlock ------------------------------------------------

void BM_RemoveFirstPatchBlock_Typical(benchmark::State& state) {
  std::string text = typicalLua(sizeArg(state), true);
  const std::string block =
      buildPatchBlock("QORVEX_PATCH:REQUIRE", "local qorvex = require('me_qorvex_undo')\n");
  text.insert(text.size() - 4096, block);
  for (auto _ : state) {
    std::uint32_t removed = 0;
    benchmark::DoNotOptimize(removeFirstPatchBlock(text, "QORVEX_PATCH:REQUIRE", removed));
  }
  setBytes(state, text.size());
}

// Marker lines of a marker that is a prefix of the one removed, everywhere.
void BM_RemoveFirstPatchBlock_NearMarkers(benchmark::State& state) {
  const std::size_t size = sizeArg(state);
  std::string text;
  while (text.size() < size) text += "-- QORVEX_PATCH_BEGIN[QORVEX_PATCH:RENAME]\r\n";
  const std::string block = buildPatchBlock("QORVEX_PATCH:RENAME_GROUP", "x()\n");
  text += block;
  for (auto _ : state) {
    std::uint32_t removed = 0;
    benchmark::DoNotOptimize(removeFirstPatchBlock(text, "QORVEX_PATCH:RENAME_GROUP", removed));
  }
  setBytes(state, text.size());
}

// Rates are taken from the wall clock, as a user would see them.
#define QORVEX_SIZES Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()
// --- findNearestText ---------------------------------------------------------

// The nearest text of an anchor that is nowhere in a typical file: the case of
// a survey after a game update, once per missing anchor. Words of the anchor
// occur throughout the text, so the alignment cannot skip much.
void BM_FindNearestText_Typical(benchmark::State& state) {
  std::string text = typicalLua(sizeArg(state), true);
  const std::string anchor =
      "\tif (h-nh-nhMC) < 753 then\n\t\twindow:setBounds(x, y, w*2, h)\n\t\tpanel:setBounds(0, 0, "
      "w*2, h)\n\t\tpMap:setPosition(50,0)\n\t\tpMC:setPosition(50,116)\n\t\twidth = w*2\n\telse";
  for (auto _ : state) benchmark::DoNotOptimize(findNearestText(text, anchor));
  setBytes(state, text.size());
}

BENCHMARK(BM_FindAnchor_Typical)->QORVEX_SIZES;
BENCHMARK(BM_FindNearestText_Typical)->QORVEX_SIZES;
BENCHMARK(BM_FindAnchor_BlankRuns)->QORVEX_SIZES;
BENCHMARK(BM_FindAnchor_RepeatedWord)->QORVEX_SIZES;
BENCHMARK(BM_FindAnchor_SparseWords)->QORVEX_SIZES;
BENCHMARK(BM_FindAnchor_InsideWords)->QORVEX_SIZES;
BENCHMARK(BM_FindAnchor_LongWordNearMiss)->QORVEX_SIZES;
BENCHMARK(BM_ContainsIgnoringCr_Typical)->QORVEX_SIZES;
BENCHMARK(BM_ContainsIgnoringCr_NearMiss)->QORVEX_SIZES;
BENCHMARK(BM_CheckLuaBalance_Typical)->QORVEX_SIZES;
BENCHMARK(BM_CheckLuaBalance_LongStrings)->QORVEX_SIZES;
BENCHMARK(BM_CheckLuaBalance_DenseSymbols)->QORVEX_SIZES;
BENCHMARK(BM_RemoveFirstPatchBlock_Typical)->QORVEX_SIZES;
BENCHMARK(BM_RemoveFirstPatchBlock_NearMarkers)->QORVEX_SIZES;

}  // namespace
}  // namespace qorvex

BENCHMARK_MAIN();
