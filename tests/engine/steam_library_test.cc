#include "steam_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_file_system.h"

namespace qorvex {
namespace {

using Paths = std::vector<std::string>;

// What Steam writes today: numbered blocks with "path", and app lists whose
// numbered keys must not be taken for libraries.
constexpr std::string_view kCurrentShape = R"("libraryfolders"
{
	"0"
	{
		"path"		"C:\\Program Files (x86)\\Steam"
		"label"		""
		"contentid"		"1234567890123456789"
		"totalsize"		"0"
		"update_clean_bytes_tally"		"79799828443"
		"time_last_update_corruption"		"0"
		"apps"
		{
			"228980"		"460924839"
			"1"		"D:\\NotALibrary"
		}
	}
	"1"
	{
		"path"		"D:\\SteamLibrary"
		"label"		"Games"
		"apps"
		{
			"223750"		"123"
		}
	}
	"2"
	{
		"path"		"E:\\Games\\Steam Library"
	}
}
)";

// What older clients wrote: the paths straight under numbered keys.
constexpr std::string_view kOldShape = R"("LibraryFolders"
{
	"TimeNextStatsReport"		"1565035925"
	"ContentStatsID"		"-3385151497734466585"
	"1"		"D:\\SteamLibrary"
	"2"		"F:\\SteamLibrary"
}
)";

struct ParseCase {
  const char* name;
  std::string_view text;
  Paths expected;
};

TEST(SteamLibrary, ParsesRealShapedAndBrokenFiles) {
  const ParseCase cases[] = {
      {"current shape",
       kCurrentShape,
       {"C:\\Program Files (x86)\\Steam", "D:\\SteamLibrary", "E:\\Games\\Steam Library"}},
      {"old shape", kOldShape, {"D:\\SteamLibrary", "F:\\SteamLibrary"}},
      {"linux paths",
       "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/ada/.local/share/"
       "Steam\"\n\t}\n"
       "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"/mnt/games/SteamLibrary\"\n\t}\n}\n",
       {"/home/ada/.local/share/Steam", "/mnt/games/SteamLibrary"}},
      {"CR LF line ends and a comment",
       "// written by hand\r\n\"libraryfolders\"\r\n{\r\n\"1\" { \"PATH\" \"G:\\\\Lib\" }\r\n}\r\n",
       {"G:\\Lib"}},
      {"escaped quote inside a path",
       R"("libraryfolders" { "1" { "path" "D:\\A \"B\"" } })",
       {"D:\\A \"B\""}},
      {"a single backslash is kept",
       R"("libraryfolders" { "1" { "path" "D:\Lib" } })",
       {"D:\\Lib"}},
      {"bare tokens", "libraryfolders { 1 { path /srv/steam } }", {"/srv/steam"}},
      {"cut off inside the second block",
       "\"libraryfolders\"\n{\n\"0\"\n{\n\"path\" \"C:\\\\One\"\n}\n\"1\"\n{\n\"path\" \"D:\\\\Tw",
       {"C:\\One"}},
      {"cut off after a key", "\"libraryfolders\" { \"0\" { \"path\" ", {}},
      {"closing brace too many",
       "\"libraryfolders\" { \"1\" \"D:\\\\Lib\" } } \"2\" \"E:\\\\Lib\"",
       {"D:\\Lib"}},
      {"path outside a numbered block",
       R"("libraryfolders" { "path" "C:\\Top" "x" { "path" "C:\\Named" } "3" { "path" "C:\\Three" } })",
       {"C:\\Three"}},
      {"numbered keys too deep", R"("libraryfolders" { "0" { "apps" { "7" "C:\\App" } } })", {}},
      {"empty path skipped",
       R"("libraryfolders" { "0" { "path" "" } "1" "" "2" "H:\\Lib" })",
       {"H:\\Lib"}},
      {"empty file", "", {}},
      {"not a vdf file", "\x01\xFF garbage {{{{ \"path\"", {}},
  };
  for (const ParseCase& c : cases) {
    EXPECT_EQ(parseLibraryFolders(c.text), c.expected) << c.name;
  }
}

TEST(SteamLibrary, GameFolderIsInsideTheLibrary) {
  EXPECT_EQ(steamGameFolder("D:\\SteamLibrary", '\\'),
            "D:\\SteamLibrary\\steamapps\\common\\DCSWorld");
  EXPECT_EQ(steamGameFolder("D:\\", '\\'), "D:\\steamapps\\common\\DCSWorld");
  EXPECT_EQ(steamGameFolder("/home/ada/.steam/steam", '/'),
            "/home/ada/.steam/steam/steamapps/common/DCSWorld");
}

class SteamLibrariesTest : public ::testing::Test {
 protected:
  SteamLibrariesTest() { fs.root = "C:\\Steam"; }
  void list(std::string text) {
    fs.folders.insert("steamapps");
    fs.addFile("steamapps\\libraryfolders.vdf", std::move(text));
  }
  testing::MemoryFileSystem fs;
};

TEST_F(SteamLibrariesTest, TheSteamFolderComesFirstThenTheListedLibrariesOnce) {
  list(std::string(kCurrentShape) + R"("x" { "3" { "path" "d:\\steamlibrary\\" } })");
  const Paths expected = {"C:\\Steam", "C:\\Program Files (x86)\\Steam", "D:\\SteamLibrary",
                          "E:\\Games\\Steam Library"};
  EXPECT_EQ(steamLibraries(fs, "C:\\Steam", '\\'), expected);
  EXPECT_TRUE(fs.wroteNothing());
}

TEST_F(SteamLibrariesTest, TheSteamFolderListedAgainIsTakenOnce) {
  list(R"("libraryfolders" { "0" { "path" "c:/steam/" } "1" { "path" "D:\\Lib" } })");
  EXPECT_EQ(steamLibraries(fs, "C:\\Steam", '\\'), (Paths{"C:\\Steam", "D:\\Lib"}));
}

TEST_F(SteamLibrariesTest, CaseMattersOnPosix) {
  fs.root = "/steam";
  list(
      "\"libraryfolders\" { \"0\" { \"path\" \"/steam/\" } \"1\" { \"path\" \"/Lib\" } "
      "\"2\" { \"path\" \"/lib\" } \"3\" { \"path\" \"relative/lib\" } }");
  EXPECT_EQ(steamLibraries(fs, "/steam", '/'), (Paths{"/steam", "/Lib", "/lib"}));
}

TEST_F(SteamLibrariesTest, AMissingUnreadableOrOversizedListAddsNothing) {
  EXPECT_EQ(steamLibraries(fs, "C:\\Steam", '\\'), Paths{"C:\\Steam"});
  EXPECT_EQ(steamLibraries(fs, "C:\\Elsewhere", '\\'), Paths{"C:\\Elsewhere"});

  list(std::string(kOldShape));
  // The first call above read (and missed) the list once already.
  fs.faults.push_back({testing::Op::Read, 2, Error::AccessDenied});
  EXPECT_EQ(steamLibraries(fs, "C:\\Steam", '\\'), Paths{"C:\\Steam"});
  EXPECT_EQ(steamLibraries(fs, "C:\\Steam", '\\'),
            (Paths{"C:\\Steam", "D:\\SteamLibrary", "F:\\SteamLibrary"}));

  fs.files["steamapps\\libraryfolders.vdf"] =
      std::string(kOldShape) + std::string(kMaxLibraryFoldersBytes, ' ');
  EXPECT_EQ(steamLibraries(fs, "C:\\Steam", '\\'), Paths{"C:\\Steam"});
}

}  // namespace
}  // namespace qorvex
