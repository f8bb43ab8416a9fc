#include "lua_balance.h"
#include "reference_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qorvex {
namespace {

struct Case {
  std::string text;
  std::string expected;  // empty: balanced
};

TEST(LuaBalance, MessagesAndLineNumbers) {
  const std::string eq16(16, '='), eq17(17, '=');
  const Case cases[] = {
      {"", ""},
      {"-- only a comment\n'a string' \"another\" --[[ long ( ]] [[ { ]]", ""},
      {")", "Unbalanced ')' at line 1"},
      {"\n\n}", "Unbalanced '}' at line 3"},
      {"a[1]]", "Unbalanced ']' at line 1"},
      {"f(", "Unbalanced parentheses: net count 1"},
      {"{{", "Unbalanced braces: net count 2"},
      {"[a", "Unbalanced brackets: net count 1"},
      {"x = \"(\" .. '{' .. [[ [ ]] --[==[ ) ]==] -- }\n", ""},
      {"s = [==[ ]] ( ]==]", ""},
      {"--(\n(", "Unbalanced parentheses: net count 1"},
      {"'abc", "Unterminated string literal (started with ')"},
      {"\"abc", "Unterminated string literal (started with \")"},
      {"'it\\'s' x", ""},
      {"'abc\\", "Unterminated string literal (started with ')"},
      {"[[ open", "Unterminated long string literal ([[...]])"},
      {"[==[ open ]=]", "Unterminated long string literal ([[...]])"},
      {"--[=[ open", "Unterminated long comment (--[[...]])"},
      {"--[", ""},
      {"--[==\n(", "Unbalanced parentheses: net count 1"},
      {"--[" + eq17 + "[\n", ""},
      {"[" + eq17 + "[", "Unbalanced brackets: net count 2"},
      {"[" + eq16 + "[ ( ]" + eq16 + "]", ""},
      {"'abc (", "Unterminated string literal (started with ')"},
      {"( {", "Unbalanced parentheses: net count 1"},
      {"[==[ ]=", "Unterminated long string literal ([[...]])"},
      {"[==[ ]==", "Unterminated long string literal ([[...]])"},
      {"a = 'x\\\ny'\n)", "Unbalanced ')' at line 3"},
      {"(\n)\n)\n)", "Unbalanced ')' at line 3"},
      {"a = \"line\nstill string\" )", "Unbalanced ')' at line 2"},
  };
  for (const Case& c : cases) {
    auto result = checkLuaBalance(c.text);
    auto reference = checkLuaBalanceReference(c.text);
    EXPECT_EQ(result.value_or(""), c.expected) << "text: " << c.text;
    EXPECT_EQ(reference.value_or(""), c.expected) << "reference, text: " << c.text;
  }
}

// The fast scanner must agree with the byte-at-a-time one on any input.
TEST(LuaBalance, FastScannerAgreesWithReferenceOnRandomText) {
  const char alphabet[] = "()[]{}=-'\"\\\n\r ab";
  std::mt19937 random(20261208);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) text.push_back(alphabet[random() % (sizeof alphabet - 1)]);
    ASSERT_EQ(checkLuaBalance(text), checkLuaBalanceReference(text)) << "text: " << text;
  }
}

}  // namespace
}  // namespace qorvex
