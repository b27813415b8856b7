// Crafted headers, containers and memo files: each is refused with an error that names what is
// wrong, or read the way Visual FoxPro reads it; none leads the engine outside its buffers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support.h"
#include "vfp/session.h"
#include "vfp/dbc.h"
#include "vfp/dbf_header.h"
#include "vfp/error.h"
#include "vfp/memo.h"

using namespace vfptest;
namespace fs = std::filesystem;

namespace {

constexpr const char* kContainer = "infused__dbf/spec/fixtures/foxprodb/FOXPRO-DB-TEST.DBC";

void patch(const std::string& path, std::size_t offset, std::initializer_list<std::uint8_t> b) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(offset));
  for (auto c : b) f.put(char(c));
}

// Byte offset of descriptor i's byte `at`.
std::size_t desc(std::size_t i, std::size_t at) {
  return vfp::header::kFixedSize + i * vfp::header::kDescriptorSize + at;
}

template <class F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const vfp::Error& e) {
    return e.what();
  }
  return "(no error)";
}

std::string makeTable(const TempFolder& dir, const std::string& columns,
                      const std::vector<std::string>& inserts = {}) {
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute("CREATE TABLE t(" + columns + ")");
  for (const auto& v : inserts) s.execute("INSERT INTO t VALUES(" + v + ")");
  s.flush();
  return dir.file("t.dbf");
}

// Points the Path of a container's table at another file: new properties in a new .dct block.
void setMemberPath(const std::string& dbc, const std::string& table, const std::string& path) {
  const auto c = vfp::dbc::Container::open(dbc);
  const vfp::dbc::Object* member = nullptr;
  for (const auto& o : c.objects())
    if (o.type == "Table" && o.name == table) member = &o;
  ASSERT_NE(member, nullptr);
  auto props = member->properties;
  for (auto& p : props)
    if (p.id == vfp::dbc::propid::kPath)
      p = vfp::dbc::Property::string(vfp::dbc::propid::kPath, path);
  const std::string memo = vfp::dbc::encodeProperties(props);
  vfp::MemoWriter w(vfp::replaceExtension(dbc, ".DCT"));
  const std::uint32_t block = w.append(vfp::fpt::kTypeText, memo.data(), memo.size());
  w.flush();
  vfp::Table t(dbc);
  const auto& h = t.header();
  patch(dbc,
        h.recordOffset(member->recno - 1) + h.fields[std::size_t(h.fieldIndex("PROPERTY"))].offset,
        {std::uint8_t(block), std::uint8_t(block >> 8), std::uint8_t(block >> 16),
         std::uint8_t(block >> 24)});
}

}  // namespace

// A field narrower than its type's storage made the writer, the index and the autoincrement
// scan read and write past the record.
TEST(HostileFiles, AFieldNarrowerThanItsTypeIsRefusedNamingTheField) {
  struct Case {
    std::string columns;
    std::size_t field;
    std::uint8_t width;
    std::string expect;
  };
  const Case cases[] = {
      {"a I, b C(10)", 0, 1, "field A (type I, width 1) must be 4 bytes wide"},
      {"c C(5), t T", 1, 1, "field T (type T, width 1) must be 8 bytes wide"},
      {"c C(5), b B", 1, 4, "field B (type B, width 4) must be 8 bytes wide"},
      {"y Y, c C(20)", 0, 2, "field Y (type Y, width 2) must be 8 bytes wide"},
      {"d D, c C(20)", 0, 3, "field D (type D, width 3) must be 8 bytes wide"},
      {"m M, c C(20)", 0, 1, "field M (type M, width 1) must be 4 bytes wide"},
      {"w W, c C(20)", 0, 2, "field W (type W, width 2) must be 4 bytes wide"},
      {"g G, c C(20)", 0, 3, "field G (type G, width 3) must be 4 bytes wide"},
  };
  for (const auto& c : cases) {
    TempFolder dir;
    const std::string t = makeTable(dir, c.columns);
    patch(t, desc(c.field, vfp::header::kLengthOffset), {c.width});
    const std::string e = errorOf([&] { vfp::TableWriter::openForAppend(t); });
    EXPECT_NE(e.find(c.expect), std::string::npos) << c.columns << ": " << e;
    EXPECT_NE(errorOf([&] { vfp::Table x(t); }).find("'t.dbf' is corrupt"), std::string::npos);
  }
  // The autoincrement flag on a field that is not an Integer.
  TempFolder dir;
  const std::string t = makeTable(dir, "c C(10), n I", {"'x', 1"});
  patch(t, desc(0, vfp::header::kFieldFlagsOffset), {vfp::fieldflag::kAutoInc});
  EXPECT_NE(errorOf([&] {
              vfp::TableWriter::openForAppend(t);
            }).find("field C (type C, width 10) is autoincrementing but not an Integer"),
            std::string::npos);
}

// A _NullFlags field too small for the table's nullable and variable-length fields: setting a
// null bit wrote past it.
TEST(HostileFiles, NullFlagsTooShortIsRefused) {
  TempFolder dir;
  std::string cols;
  for (int i = 0; i < 9; ++i) cols += (i ? ", n" : "n") + std::to_string(i) + " I NULL";
  const std::string t = makeTable(dir, cols);
  vfp::Table before(t);
  ASSERT_EQ(before.header().nullFlagsField()->length, 2u);
  patch(t, desc(9, vfp::header::kLengthOffset), {1});
  const std::string e = errorOf([&] {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    s.execute(
        "INSERT INTO t VALUES(.NULL.,.NULL.,.NULL.,.NULL.,.NULL.,.NULL.,.NULL.,.NULL.,.NULL.)");
    s.flush();
  });
  EXPECT_NE(e.find("_NullFlags field has 8 bits but 9 are needed"), std::string::npos) << e;
}

// The OBJECTID, PARENTID and PROPERTY fields of a container are read as integers and a memo
// pointer; another type or width made listing the tables read past the record.
TEST(HostileFiles, AContainerWhoseKeyFieldsHaveOtherTypesIsRefused) {
  const struct {
    std::size_t field;
    std::size_t at;
    std::uint8_t value;
    const char* expect;
  } cases[] = {
      {0, vfp::header::kTypeOffset, 'C', "field OBJECTID has type C, not I"},
      {1, vfp::header::kTypeOffset, 'L', "field PARENTID (type L, width 4) must be 1 byte wide"},
      {4, vfp::header::kTypeOffset, 'C', "field PROPERTY has type C, not M"},
      {3, vfp::header::kTypeOffset, 'M', "field OBJECTNAME (type M, width 128) must be 4"},
      {0, vfp::header::kLengthOffset, 1, "field OBJECTID (type I, width 1) must be 4 bytes wide"},
  };
  for (const auto& c : cases) {
    TempFolder dir;
    copyFixtureFolder(fixture(kContainer), dir.path);
    const std::string dbc = dir.file("FOXPRO-DB-TEST.DBC");
    patch(dbc, desc(c.field, c.at), {c.value});
    const std::string e = errorOf([&] { vfp::openCatalog(dbc)->tables(); });
    EXPECT_NE(e.find(c.expect), std::string::npos) << e;
  }
}

// dBase III and FoxPro 2.x tables keep other things in descriptor byte 18: it is not Visual
// FoxPro's field flags (a "system" bit hid the column, a "binary" bit showed it as hex).
TEST(HostileFiles, DescriptorByte18IsNotFieldFlagsOutsideVisualFoxPro) {
  TempFolder dir;
  const std::string t = makeTable(dir, "name C(5), city C(6)", {"'hello', 'Berlin'"});
  patch(t, vfp::header::kVersionOffset, {0x03});
  patch(t, desc(0, vfp::header::kFieldFlagsOffset), {vfp::fieldflag::kSystem});
  patch(t, desc(1, vfp::header::kFieldFlagsOffset), {vfp::fieldflag::kBinary});
  vfp::QueryResult q(t);
  ASSERT_EQ(q.fieldCount(), 2u);
  ASSERT_TRUE(q.next());
  EXPECT_EQ(q.value(0).s, "hello");
  EXPECT_EQ(q.value(1).s, "Berlin");
  EXPECT_EQ(q.value(1).kind, vfp::Value::Kind::Text);
}

// A header length that ends inside the field list (no 0x0D where it must be) turned descriptor
// bytes into a row.
TEST(HostileFiles, AHeaderLengthEndingInsideTheFieldListIsRefused) {
  TempFolder dir;
  const std::string t = makeTable(dir, "a C(4), b C(4), c C(4), d C(4)", {"'w','x','y','z'"});
  const std::uint16_t shortLength = vfp::header::kFixedSize + 2 * vfp::header::kDescriptorSize + 1;
  patch(t, vfp::header::kHeaderLengthOffset, {std::uint8_t(shortLength), 0});
  std::string e = errorOf([&] { vfp::QueryResult q(t); });
  EXPECT_NE(e.find("the header length 97 ends inside the field list"), std::string::npos) << e;
  // The same for a dBase III table without a terminator whose fields do not fill the record.
  patch(t, vfp::header::kVersionOffset, {0x03});
  e = errorOf([&] { vfp::QueryResult q(t); });
  EXPECT_NE(e.find("ends inside the field list"), std::string::npos) << e;
}

// A container without its .dct names the .dct, not a .fpt.
TEST(HostileFiles, AContainerWithoutItsMemoFileNamesTheDct) {
  TempFolder dir;
  copyFixtureFolder(fixture(kContainer), dir.path);
  fs::remove(dir.file("FOXPRO-DB-TEST.DCT"));
  const std::string e = errorOf([&] { vfp::openCatalog(dir.file("FOXPRO-DB-TEST.DBC")); });
  EXPECT_NE(e.find("'FOXPRO-DB-TEST.dct'"), std::string::npos) << e;
  EXPECT_EQ(e.find(".fpt"), std::string::npos) << e;
}

// A memo pointer into the .fpt's own header handed out header bytes; with a block size of 1
// every pointer below 512 does.
TEST(HostileFiles, AMemoPointerIntoTheMemoHeaderIsRefused) {
  for (std::uint8_t blockSize : {64, 1}) {
    TempFolder dir;
    const std::string t = makeTable(dir, "m M", {"'a memo'"});
    patch(dir.file("t.fpt"), vfp::fpt::kBlockSizeOffset, {0, blockSize});
    vfp::Table table(t);
    const std::size_t pointer = table.header().recordOffset(0) + table.header().fields[0].offset;
    patch(t, pointer, {3, 0, 0, 0});  // block 3: inside the 512-byte header either way
    const std::string e = errorOf([&] {
      vfp::QueryResult q(t);
      q.next();
      q.value(0);
    });
    EXPECT_NE(e.find("block 3 lies inside the file's header"), std::string::npos) << e;
  }
}

// A next-free block far past the memo file's end made one INSERT grow a small file to 2 GB.
TEST(HostileFiles, ANextFreeBlockPastTheEndDoesNotGrowTheMemoFile) {
  TempFolder dir;
  const std::string t = makeTable(dir, "m M", {"'first'"});
  const auto before = fs::file_size(dir.file("t.fpt"));
  patch(dir.file("t.fpt"), vfp::fpt::kNextFreeOffset, {0x01, 0xFF, 0xFF, 0x00});
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    s.execute("INSERT INTO t VALUES('second')");
    s.flush();
  }
  EXPECT_LT(fs::file_size(dir.file("t.fpt")), before + 1024);
  vfp::QueryResult q(t);
  std::vector<std::string> memos;
  while (q.next()) memos.push_back(q.value(0).s);
  EXPECT_EQ(memos, (std::vector<std::string>{"first", "second"}));
}

// Values FoxPro cannot hold are refused, not stored as something else.
TEST(HostileFiles, InfinityAndAnAutoincrementPastItsLargestValueAreRefused) {
  TempFolder dir;
  makeTable(dir, "b B, n I AUTOINC NEXTVALUE 2147483646");
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  for (const char* v : {"1e400", "-1e400", "'1e400'"})
    EXPECT_NE(errorOf([&] {
                s.execute(std::string("INSERT INTO t VALUES(") + v + ")");
              }).find("Numeric overflow"),
              std::string::npos)
        << v;
  s.execute("INSERT INTO t VALUES(1)");
  s.execute("INSERT INTO t VALUES(2)");
  const std::string e = errorOf([&] { s.execute("INSERT INTO t VALUES(3)"); });
  EXPECT_NE(e.find("Numeric overflow"), std::string::npos) << e;
  EXPECT_NE(e.find("field N"), std::string::npos) << e;
  s.flush();
  vfp::QueryResult q(dir.file("t.dbf"));
  std::vector<std::int64_t> ids;
  while (q.next()) ids.push_back(q.value(1).i);
  EXPECT_EQ(ids, (std::vector<std::int64_t>{2147483646, 2147483647}));
}

// V and Q fields left out of an INSERT are empty, as FoxPro writes them, not blanks or zeros.
TEST(HostileFiles, VarcharAndVarbinaryLeftOutOfAnInsertAreEmpty) {
  TempFolder dir;
  makeTable(dir, "a C(3), v V(6), q Q(5)");
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    s.execute("INSERT INTO t VALUES('x')");
  }
  vfp::QueryResult q(dir.file("t.dbf"));
  ASSERT_TRUE(q.next());
  EXPECT_EQ(q.value(1).s, "");
  EXPECT_EQ(q.value(2).s, "");
}

// A time with a suffix other than AM or PM is not a time.
TEST(HostileFiles, ATimeLiteralWithABadSuffixIsRefused) {
  TempFolder dir;
  makeTable(dir, "t T");
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  for (const char* bad :
       {"{^2000-01-01 12:00:00 XM}", "{^2000-01-01 12:00:00PX}", "{^2000-01-01 12:00:00 AMX}",
        "{^2000-01-01 12:00x}", "{^2000-01-01 13:00 PM}", "{^2000-01-01 12:}"})
    EXPECT_NE(errorOf([&] {
                s.execute(std::string("INSERT INTO t VALUES(") + bad + ")");
              }).find("invalid value"),
              std::string::npos)
        << bad;
  for (const char* good : {"{^2000-01-01 12:00:00 PM}", "{^2000-01-01 1:05 am}",
                           "{^2000-01-01T23:59:59}", "{^2000-01-01 7}"})
    EXPECT_EQ(errorOf([&] { s.execute(std::string("INSERT INTO t VALUES(") + good + ")"); }),
              "(no error)")
        << good;
  s.flush();
  vfp::QueryResult q(dir.file("t.dbf"));
  std::vector<int> hours;
  while (q.next()) hours.push_back(q.value(0).when.hour);
  EXPECT_EQ(hours, (std::vector<int>{12, 1, 23, 7}));
}

// A container member whose Path leads out of the container's folder: FoxPro reads it, so SELECT
// does; nothing writes to it, replaces it or deletes it.
TEST(HostileFiles, AContainerMemberOutsideItsFolderIsReadButNeverChanged) {
  TempFolder dir;
  fs::create_directory(dir.file("db"));
  fs::create_directory(dir.file("outside"));
  copyFixtureFolder(fixture(kContainer), dir.file("db"));
  for (const char* f : {"calls.dbf", "calls.CDX", "calls.FPT"})
    fs::rename(dir.file(std::string("db/") + f), dir.file(std::string("outside/") + f));
  const std::string dbc = dir.file("db/FOXPRO-DB-TEST.DBC");
  setMemberPath(dbc, "calls", "..\\outside\\calls.dbf");
  const std::string outside = readFile(dir.file("outside/calls.dbf"));
  vfp::Session s(vfp::openCatalog(dbc));
  auto rows = s.execute("SELECT * FROM calls");
  EXPECT_GT(rows->rowCount(), 0u);
  rows.reset();
  for (const char* sql :
       {"DROP TABLE calls", "INSERT INTO calls VALUES(1)", "CREATE TABLE calls(a I)"}) {
    const std::string e = errorOf([&] {
      s.execute(sql);
      s.flush();
    });
    EXPECT_NE(e.find("Table 'calls' of database 'FOXPRO-DB-TEST.DBC' lies outside the database's "
                     "folder ('..\\outside\\calls.dbf')"),
              std::string::npos)
        << sql << ": " << e;
  }
  EXPECT_EQ(readFile(dir.file("outside/calls.dbf")), outside);
  EXPECT_TRUE(fs::exists(dir.file("outside/calls.FPT")));
  EXPECT_TRUE(fs::exists(dir.file("outside/calls.CDX")));
  EXPECT_FALSE(fs::exists(dir.file("db/calls.dbf")));

  // An absolute Path is a place on another machine: nothing is read for it, even when this
  // machine has a file there.
  setMemberPath(dbc, "calls", dir.file("outside/calls.dbf"));
  EXPECT_NE(errorOf([&] { s.execute("SELECT * FROM calls"); }).find("does not exist"),
            std::string::npos);
}
