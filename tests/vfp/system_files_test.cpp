// What the engine asks of the system it runs on: Unicode file and folder names, either path
// separator, code pages, and (on Windows, where the system enforces it) tables other programs
// hold open. The same tests run on Linux and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support.h"
#include "vfp/codepage.h"
#include "vfp/session.h"
#include "vfp/error.h"
#include "vfp/file.h"

#ifdef _WIN32
#include <windows.h>

#include "vfp/os/windows/wide.h"
#endif

using namespace vfptest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> entriesOf(const std::string& folder) {
  auto e = vfp::folderEntries(folder);
  if (!e) return {"(cannot read " + folder + ")"};
  std::sort(e->begin(), e->end());
  return *e;
}

std::vector<std::string> tableNames(const vfp::TableCatalog& c) {
  std::vector<std::string> out;
  for (const auto& e : c.tables()) out.push_back(e.name);
  std::sort(out.begin(), out.end());
  return out;
}

std::size_t rowCount(vfp::Session& s, const std::string& sql) {
  auto r = s.execute(sql);
  std::size_t n = 0;
  while (r->next()) ++n;
  return n;
}

// A database is opened by a path in the system's own form ("\\" is part of a file name on Linux;
// only SQL references take either separator everywhere).
#ifdef _WIN32
constexpr char kOtherSeparator = '\\';
#else
constexpr char kOtherSeparator = '/';
#endif

std::string withSeparator(std::string path, char sep) {
  for (auto& c : path)
    if (c == '/' || c == '\\') c = sep;
  return path;
}

}  // namespace

TEST(SystemFiles, UnicodeNamesInAUnicodeFolderAreCreatedReadAndDropped) {
  TempFolder dir;
  const std::string folder = dir.file("Données");
  fs::create_directory(vfp::nativePath(folder));
  {
    vfp::Session s(vfp::openCatalog(folder));
    s.execute("CREATE TABLE Müller (name C(10), note M)");
    s.execute("INSERT INTO Müller VALUES('Zoë', 'größer')");
    // The same table through absolute paths written with either separator.
    s.execute("INSERT INTO [" + withSeparator(folder + "/Müller.dbf", '\\') + "] VALUES('a', '')");
    s.execute("INSERT INTO [" + withSeparator(folder + "/Müller.dbf", '/') + "] VALUES('b', '')");
    s.flush();
    auto r = s.execute("SELECT * FROM Müller");
    ASSERT_TRUE(r->next());
    EXPECT_EQ(r->value(0).s, "Zoë");
    EXPECT_EQ(r->value(1).s, "größer");
  }
  EXPECT_EQ(entriesOf(folder), (std::vector<std::string>{"Müller.dbf", "Müller.fpt"}));
  EXPECT_TRUE(fs::exists(vfp::nativePath(folder) / vfp::nativePath("Müller.dbf")));

  // A folder named with a trailing separator of either kind, and tables named by path.
  for (char sep : {kOtherSeparator, '/'}) {
    vfp::Session s(vfp::openCatalog(withSeparator(folder + "/", sep)));
    EXPECT_EQ(tableNames(s.catalog()), std::vector<std::string>{"Müller"}) << sep;
    EXPECT_EQ(rowCount(s, "SELECT * FROM [" + withSeparator(folder + "/müller", sep) + "]"), 3u);
  }
  vfp::Session s(vfp::openCatalog(folder));
  s.execute("DROP TABLE [Müller]");
  EXPECT_TRUE(entriesOf(folder).empty()) << testing::PrintToString(entriesOf(folder));
}

TEST(SystemFiles, AContainerInAUnicodeFolderTakesAndDropsAMember) {
  TempFolder dir;
  const std::string folder = dir.file("Données");
  fs::create_directory(vfp::nativePath(folder));
  copyFixtureFolder(fixture("VFPX__Samples/Northwind/northwind.dbc"), folder);
  const std::string dbc = withSeparator(folder + "/northwind.dbc", kOtherSeparator);
  {
    vfp::Session s(vfp::openCatalog(dbc));
    s.execute("CREATE TABLE Strasse (n N(3))");
    s.execute("INSERT INTO Strasse VALUES(7)");
  }
  {
    vfp::Session s(vfp::openCatalog(dbc));
    auto names = tableNames(s.catalog());
    EXPECT_NE(std::find(names.begin(), names.end(), "Strasse"), names.end())
        << testing::PrintToString(names);
    EXPECT_EQ(rowCount(s, "SELECT * FROM Strasse"), 1u);
    s.execute("DROP TABLE Strasse");
  }
  vfp::Session s(vfp::openCatalog(dbc));
  auto names = tableNames(s.catalog());
  EXPECT_EQ(std::find(names.begin(), names.end(), "Strasse"), names.end());
  EXPECT_FALSE(vfp::storedName(folder + "/Strasse.dbf"));
}

// Each code page a table may name converts on every system, or is refused with one message.
// Characters are checked against the code pages' published tables, so both systems' converters
// must agree on them.
TEST(SystemFiles, EveryKnownCodePageConvertsAlikeOrIsRefusedClearly) {
  struct Sample {
    int codePage;
    std::string bytes, utf8;
  };
  const std::vector<Sample> samples = {
      {1252, "\x80\xE9\x9F", "€éŸ"},     {437, "\x80\xE1", "Çß"},
      {850, "\x9D\xD5", "Øı"},           {852, "\xA5\xE7", "ąš"},
      {866, "\x80\xEF", "Ая"},           {1250, "\x8A\xB9", "Šą"},
      {1251, "\xC0\xFF", "Ая"},          {1253, "\xC1\xF9", "Αω"},
      {1254, "\xD0\xFE", "Ğş"},          {1255, "\xE0\xFA", "את"},
      {1256, "\xC7\xED", "اي"},          {874, "\xA1\xF9", "ก๙"},
      {10000, "\x80\xA5", "Ä•"},         {10007, "\x80\xDF", "Ая"},
      {737, "\x80\xE0", "Αω"},           {857, "\x8D\xA6", "ıĞ"},
      {865, "\x9B\x9D", "øØ"},           {861, "\x8B\x8C", "Ðð"},
      {10029, "\x81\x88", "Āą"},         {10006, "\xA1\xE1", "Γα"},
      {936, "\xD6\xD0\xCE\xC4", "中文"}, {932, "\x93\xFA\x96\x7B", "日本"},
      {949, "\xC7\xD1\xB1\xDB", "한글"}, {950, "\xA4\xA4\xA4\xE5", "中文"},
  };
  int known = 0;
  std::vector<int> refused;
  for (int mark = 1; mark < 256; ++mark) {
    const int cp = vfp::codePageFromMark(std::uint8_t(mark));
    if (cp == 0) continue;
    ++known;
    std::shared_ptr<const vfp::TextConverter> conv;
    try {
      conv = vfp::converterFor(cp);
    } catch (const vfp::Error& e) {
      refused.push_back(cp);
      EXPECT_EQ(std::string(e.what()),
                "Code page " + std::to_string(cp) + " cannot be converted on this system.");
      continue;
    }
    EXPECT_EQ(conv->codePage(), cp);
    if (!vfp::isDoubleBytePage(cp)) {
      // Every byte of a single-byte page survives a round trip, undefined ones included.
      for (int b = 0; b < 256; ++b) {
        std::string utf8, back;
        conv->toUtf8(std::string(1, char(b)), utf8);
        EXPECT_EQ(conv->fromUtf8(utf8, back), 0u) << cp << " byte " << b;
        EXPECT_EQ(back, std::string(1, char(b))) << cp << " byte " << b;
      }
    }
    for (const auto& s : samples) {
      if (s.codePage != cp) continue;
      std::string utf8, bytes;
      conv->toUtf8(s.bytes, utf8);
      EXPECT_EQ(utf8, s.utf8) << cp;
      EXPECT_EQ(conv->fromUtf8(s.utf8, bytes), 0u) << cp;
      EXPECT_EQ(bytes, s.bytes) << cp;
    }
    // What a page cannot hold becomes "?", counted; never a look-alike.
    std::string bytes;
    EXPECT_EQ(conv->fromUtf8("a\xF0\x9F\x98\x80"
                             "b",
                             bytes),
              1u)
        << cp;  // an emoji
    EXPECT_EQ(bytes, "a?b") << cp;
  }
  EXPECT_GE(known, 20);
  // Only rare pages may be missing: Kamenický (895) and Mazovia (620) have no Windows
  // conversion; glibc has no Mac Greek (10006) and may lack the first two.
  for (int cp : refused) EXPECT_TRUE(cp == 895 || cp == 620 || cp == 10006) << cp;
  EXPECT_THROW(vfp::converterFor(65001), vfp::Error);
}

#ifdef _WIN32
namespace {

// Another program holding a file open as Visual FoxPro does for a shared table: reading and
// writing, letting others read and write but not delete.
class HeldByAnotherProgram {
 public:
  explicit HeldByAnotherProgram(const std::string& path)
      : h_(CreateFileW(vfp::os::toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldByAnotherProgram() { release(); }
  bool held() const { return h_ != INVALID_HANDLE_VALUE; }
  void release() {
    if (held()) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

}  // namespace

TEST(SystemFiles, TablesAnotherProgramHoldsAreRefusedAndLeftWhole) {
  TempFolder dir;
  const std::string folder = dir.file("Données");
  fs::create_directory(vfp::nativePath(folder));
  {
    vfp::Session s(vfp::openCatalog(folder));
    s.execute("CREATE TABLE Müller (note M)");
    s.execute("INSERT INTO Müller VALUES('kept')");
  }
  const auto before = entriesOf(folder);
  ASSERT_EQ(before, (std::vector<std::string>{"Müller.dbf", "Müller.fpt"}));
  {
    HeldByAnotherProgram other(folder + "/Müller.dbf");
    ASSERT_TRUE(other.held());
    vfp::Session s(vfp::openCatalog(folder));
    EXPECT_EQ(rowCount(s, "SELECT * FROM Müller"), 1u);  // reading is shared
    EXPECT_EQ(errorOf(s, "INSERT INTO Müller VALUES('x')"),
              "File 'Müller.dbf' is in use by another program.");
    EXPECT_EQ(errorOf(s, "DROP TABLE Müller"), "File 'Müller.dbf' is in use by another program.");
    EXPECT_EQ(errorOf(s, "CREATE TABLE Müller (n N(3))"),
              "Cannot replace the table: File 'Müller.dbf' is in use by another program.");
  }
  {
    // Only the memo file held: the table must not lose its memo file or be half dropped.
    HeldByAnotherProgram other(folder + "/Müller.fpt");
    ASSERT_TRUE(other.held());
    vfp::Session s(vfp::openCatalog(folder));
    EXPECT_EQ(errorOf(s, "DROP TABLE Müller"), "File 'Müller.fpt' is in use by another program.");
    EXPECT_EQ(entriesOf(folder), before);
  }
  vfp::Session s(vfp::openCatalog(folder));
  EXPECT_EQ(rowCount(s, "SELECT * FROM Müller"), 1u);
  s.execute("DROP TABLE Müller");
  EXPECT_TRUE(entriesOf(folder).empty());
}

TEST(SystemFiles, AContainerMemberAnotherProgramHoldsStaysListedAndWhole) {
  TempFolder dir;
  copyFixtureFolder(fixture("VFPX__Samples/Northwind/northwind.dbc"), dir.path);
  const auto before = entriesOf(dir.path);
  HeldByAnotherProgram other(dir.file("orders.cdx"));
  ASSERT_TRUE(other.held());
  vfp::Session s(vfp::openCatalog(dir.file("northwind.dbc")));
  EXPECT_EQ(errorOf(s, "DROP TABLE orders"), "File 'orders.cdx' is in use by another program.");
  EXPECT_EQ(entriesOf(dir.path), before);
  const auto names = tableNames(s.catalog());
  EXPECT_NE(std::find(names.begin(), names.end(), "Orders"), names.end())
      << testing::PrintToString(names);
  other.release();
  s.execute("DROP TABLE orders");
  EXPECT_FALSE(vfp::storedName(dir.file("orders.dbf")));
}
#endif
