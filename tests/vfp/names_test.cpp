// Names that would lead the engine to a file it must not touch: NUL and control characters in
// SQL names, and names from a database that try to leave the folder they are written to.
#include "vfp/names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support.h"
#include "vfp/session.h"
#include "vfp/error.h"

using namespace vfptest;
namespace fs = std::filesystem;

namespace {}  // namespace

TEST(Names, NulOrControlCharacterInATableOrFieldNameIsRefusedAndTouchesNoFile) {
  TempFolder dir;
  fs::create_directory(dir.file("db"));
  { std::ofstream(dir.file("db/notes.txt")) << "keep me"; }
  { std::ofstream(dir.file("outside.txt")) << "keep me too"; }
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.file("db")));
  using namespace std::string_literals;
  for (std::string sql :
       {"CREATE TABLE [notes.txt\0](a I)"s, "CREATE TABLE [../outside.txt\0](a I)"s,
        "CREATE TABLE [x\ty](a I)"s, "DROP TABLE [notes.txt\0]"s, "SELECT * FROM [notes.txt\0]"s,
        "INSERT INTO [notes.txt\0] VALUES(1)"s}) {
    EXPECT_NE(errorOf(s, sql).find("Invalid path or file name"), std::string::npos) << sql;
  }
  EXPECT_EQ(readFile(dir.file("db/notes.txt")), "keep me");
  EXPECT_EQ(readFile(dir.file("outside.txt")), "keep me too");
  EXPECT_NE(errorOf(s, "CREATE TABLE t([a\0b] I)"s).find("Field name"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.file("db/t.dbf")));
}

TEST(Names, ConfineTableNameKeepsEveryNameInsideTheFolder) {
  struct Case {
    std::string in, stem;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"orders", "orders"},
      {"Kunden Übersicht", "Kunden Übersicht"},  // blanks and letters of any script stay
      {"../../evil", "___.._evil"},
      {"..", "__"},
      {".", "_"},
      {"a/b\\c:d", "a_b_c_d"},
      {"/etc/passwd", "_etc_passwd"},
      {"C:\\Windows\\x", "C__Windows_x"},
      {"notes.txt\0"s, "notes.txt_"},
      {"tab\there", "tab_here"},
      {"", "_"},
      {"con", "con_"},
      {"LPT1.dbf", "LPT1.dbf_"},
      {"name. ", "name__"},
      {" lead", "_lead"},
  };
  for (const auto& c : cases) {
    auto r = vfp::confineTableName(c.in);
    EXPECT_EQ(r.stem, c.stem) << c.in;
    EXPECT_EQ(r.changed(), c.in != c.stem) << c.in;
  }
  EXPECT_EQ(vfp::confineTableName("a/b").reason, "'/' cannot be part of a file name");
  // Long names are cut, never inside a UTF-8 character.
  std::string longName(vfp::names::kMaxStem - 1, 'x');
  longName += "é";
  auto cut = vfp::confineTableName(longName);
  EXPECT_EQ(cut.stem, std::string(vfp::names::kMaxStem - 1, 'x'));
  EXPECT_TRUE(cut.changed());

  std::string why;
  EXPECT_EQ(vfp::confinedPath("/data/fox", "../../evil", ".DBF", &why), "/data/fox/___.._evil.DBF");
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(vfp::confinedPath("C:\\data\\", "t", ".DBF", &why), "C:\\data\\t.DBF");
  EXPECT_TRUE(why.empty());
  EXPECT_EQ(vfp::confinedPath("C:\\data", "t", ".DBF"), "C:\\data\\t.DBF");
}

TEST(Names, AConfinedPathCreatedThroughSqlStaysInTheFolder) {
  TempFolder dir;
  fs::create_directory(dir.file("target"));
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.file("target")));
  for (const char* hostile : {"../../evil", "../evil", "..", "/tmp/evil", "a/../../b"}) {
    const std::string path = vfp::confinedPath(dir.file("target"), hostile, ".DBF");
    EXPECT_TRUE(vfp::isInsideFolder(dir.file("target"), path)) << hostile;
    s.execute("CREATE TABLE '" + path + "'(a I)");
    EXPECT_TRUE(fs::exists(path)) << hostile;
  }
  std::size_t outside = 0;
  for (const auto& e : fs::directory_iterator(dir.path)) outside += e.path().filename() != "target";
  EXPECT_EQ(outside, 0u);
}

TEST(Names, IsInsideFolderResolvesDotsAndLinks) {
  TempFolder dir;
  fs::create_directories(dir.file("db/sub"));
  fs::create_directory(dir.file("other"));
  EXPECT_TRUE(vfp::isInsideFolder(dir.file("db"), dir.file("db/x.dbf")));
  EXPECT_TRUE(vfp::isInsideFolder(dir.file("db/"), dir.file("db/sub/x.dbf")));
  EXPECT_TRUE(vfp::isInsideFolder(dir.file("db"), dir.file("db/sub/../x.dbf")));
  EXPECT_FALSE(vfp::isInsideFolder(dir.file("db"), dir.file("db/../other/x.dbf")));
  EXPECT_FALSE(vfp::isInsideFolder(dir.file("db"), dir.file("dbx/x.dbf")));
#ifndef _WIN32  // Wine makes no symbolic links
  fs::create_directory_symlink(dir.file("other"), dir.file("db/link"));
  EXPECT_FALSE(vfp::isInsideFolder(dir.file("db"), dir.file("db/link/x.dbf")));
#endif
}
