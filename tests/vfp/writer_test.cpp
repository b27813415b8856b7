// Tables the engine writes: byte-for-byte headers against VFP-made files, read back by the
// independent readers, round trips of awkward values, autoincrement, the 2 GB limit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iostream>

#include "support.h"
#include "vfp/bytes.h"
#include "vfp/session.h"
#include "vfp/error.h"

using namespace vfptest;

namespace {

std::vector<vfp::ColumnSpec> specsOf(const vfp::TableHeader& h) {
  std::vector<vfp::ColumnSpec> out;
  for (const auto& f : h.fields) {
    if (f.isNullFlags()) continue;
    vfp::ColumnSpec c;
    c.name = f.name;
    c.type = f.type;
    c.width = f.length;
    c.decimals = f.decimals;
    c.nullable = f.isNullable();
    c.binary = f.isBinary() && (f.type == 'C' || f.type == 'V' || f.type == 'M');
    c.autoInc = f.isAutoInc();
    c.autoIncNext = f.autoIncNext;
    c.autoIncStep = f.autoIncStep;
    out.push_back(c);
  }
  return out;
}

std::vector<std::vector<vfp::Value>> readAll(const std::string& path) {
  vfp::Table t(path);
  vfp::RecordScanner scan(t);
  std::vector<std::vector<vfp::Value>> rows;
  while (const auto* r = scan.nextLive()) {
    rows.emplace_back(t.userFields().size());
    for (std::size_t i = 0; i < rows.back().size(); ++i)
      t.decodeField(r, std::size_t(t.userFields()[i]), rows.back()[i]);
  }
  return rows;
}

}  // namespace

// For every free VFP-made fixture table without an index, a table created with the same fields
// must carry the same header bytes and descriptors; only the date and record count differ.
TEST(Writer, HeaderAndDescriptorsEqualThoseOfVfpMadeTables) {
  TempFolder dir;
  int compared = 0;
  for (const auto& path : fixtureTables()) {
    if (path.find("dbase_02") != std::string::npos) continue;  // dBase II, refused
    vfp::Table src(path);
    const auto& h = src.header();
    if (!h.isVisualFoxPro() || !h.backlink.empty() ||
        (h.tableFlags & ~vfp::tableflag::kHasMemo) != 0)
      continue;
    // Older VFP builds left the binary flag off Integer fields; VFP 9 always sets it.
    bool olderWriter = false;
    for (const auto& f : h.fields) olderWriter = olderWriter || (f.type == 'I' && !f.isBinary());
    if (olderWriter) continue;
    SCOPED_TRACE(path);
    std::string out = dir.file("copy" + std::to_string(compared) + ".dbf");
    vfp::TableWriter::create(out, specsOf(h), src.codePage());
    std::string mine = readFile(out), theirs = readFile(path);
    ASSERT_GE(mine.size(), h.headerLength);
    ASSERT_GE(theirs.size(), h.headerLength);
    for (std::size_t i = 0; i < h.headerLength; ++i) {
      if (i >= vfp::header::kDateOffset && i < vfp::header::kHeaderLengthOffset)
        continue;  // date, count
      // Bytes 19-23 of a descriptor only mean something for autoincrement fields; VFP leaves
      // junk there on _NullFlags.
      if (i >= 32 && i < 32 + 32 * h.fields.size()) {
        const auto& f = h.fields[(i - 32) / 32];
        std::size_t at = (i - 32) % 32;
        if (!f.isAutoInc() && at >= 19 && at < 24) continue;
      }
      ASSERT_EQ(std::uint8_t(mine[i]), std::uint8_t(theirs[i])) << "header byte " << i;
    }
    ++compared;
  }
  EXPECT_GE(compared, 8);
  std::cout << "headers compared: " << compared << "\n";
}

// What the engine writes, for every type both readers know, reads back the same in both.
TEST(Writer, TablesReadBackIdenticallyInTheIndependentReaders) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute(
      "CREATE TABLE alltypes (ch C(12) NULL, num N(20,4), flo F(10,2), i I, b B(3), y Y, d D NULL, "
      "t T, l L, "
      "m M, mbin M NOCPTRANS, nn N(5))");
  s.execute(
      "INSERT INTO alltypes VALUES('it''s', '-12345678901234.5678', 3.14, -2147483648, '2.5e-3', "
      "'922337203685477.5807', {^1999-12-31}, {^2021-08-31 23:59:59}, .T., "
      "'line'+CHR(13)+CHR(10)+'two', "
      "0h00FF10, '99999')");
  s.execute(
      "INSERT INTO alltypes VALUES(NULL, '0', '', 2147483647, 0, '-922337203685477.5808', NULL, "
      "'', .F., '', '', "
      "-9999)");
  s.execute(
      "INSERT INTO alltypes VALUES('Ä€‰ œŸ¥', 12, -0.5, 0, -1e100, 0, {^0100-01-01}, {^9999-12-31 "
      "00:00:01}, "
      "'Y', 'ÿ', '', '')");
  s.flush();
  // A second table with a varchar: python-dbf does not read 0x32 tables, dbfread does.
  s.execute("CREATE TABLE withvar (v V(10) NULL, c C(3))");
  s.execute("INSERT INTO withvar VALUES('short', 'abc')");
  s.execute("INSERT INTO withvar VALUES('exactly10!', '')");
  s.execute("INSERT INTO withvar VALUES(NULL, 'x')");
  s.execute("INSERT INTO withvar VALUES('', 'y')");
  // General fields: python-dbf fails on them, dbfread reads them.
  s.execute("CREATE TABLE general (c C(2), g G)");
  s.execute("INSERT INTO general VALUES('x', 0h151C0102)");
  s.execute("INSERT INTO general VALUES('y', '')");
  s.flush();
  if (!vfptest::independentReadersAvailable()) GTEST_SKIP() << "the Python readers run on Linux";
  TempFolder work;
  auto lines = compareWithReaders(
      {dir.file("alltypes.dbf"), dir.file("withvar.dbf"), dir.file("general.dbf")}, work.path);
  std::vector<std::string> expected = {"OK dbfread " + dir.file("alltypes.dbf") + " 3",
                                       "OK python-dbf " + dir.file("alltypes.dbf") + " 3",
                                       "OK dbfread " + dir.file("withvar.dbf") + " 4",
                                       "OK dbfread " + dir.file("general.dbf") + " 2"};
  for (const auto& e : expected)
    EXPECT_NE(std::find(lines.begin(), lines.end(), e), lines.end())
        << e << "\n"
        << testing::PrintToString(lines);
  for (const auto& l : lines) EXPECT_EQ(l.rfind("DIFF", 0), std::string::npos) << l;
}

TEST(Writer, AwkwardValuesSurviveARoundTrip) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute(
      "CREATE TABLE rt (c C(10) NULL, m M NULL, n N(20,0), n4 N(20,4), d D, t T, w W, q Q(4), v "
      "V(6))");
  // Every character of code page 1252, in a memo and cut to a C(10).
  std::string all1252;
  auto conv = vfp::converterFor(1252);
  for (int b = 1; b < 256; ++b) {
    if (b == '\'') continue;
    std::string one(1, char(b));
    conv->toUtf8(one, all1252);
  }
  std::string quoted = "'it''s \"quoted\"'+CHR(13)+CHR(10)+'next line'";
  s.execute("INSERT INTO rt VALUES(" + quoted + ", '" + all1252 +
            "', '12345678901234567890', '-12345678901234.5678', " +
            "{^0001-01-01}, {^9999-12-31 23:59:59}, 0h000102FF, 0hCAFE, 'abc')");
  s.execute(
      "INSERT INTO rt VALUES(NULL, NULL, '-1234567890123456789', '0.00005', '', '', '', 0h, "
      "'sixsix')");
  s.execute(
      "INSERT INTO rt VALUES('全角 and 😀', '中文', 0, 0, {^2000-02-29}, {^2000-02-29 12:00:00}, "
      "'', 0hAABBCCDD, '')");
  EXPECT_EQ(s.charactersReplaced(), 5);  // 全, 角, 😀, 中, 文
  s.flush();
  auto rows = readAll(dir.file("rt.dbf"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0].s, std::string("it's \"quot"));  // cut to the field's ten characters
  EXPECT_EQ(rows[0][1].s, all1252);
  EXPECT_EQ(rows[0][2].s, "12345678901234567890");
  EXPECT_EQ(rows[0][3].s, "-12345678901234.5678");
  EXPECT_EQ(rows[0][4].when.date, (vfp::Date{1, 1, 1}));
  EXPECT_EQ(rows[0][5].when, (vfp::DateTime{{9999, 12, 31}, 23, 59, 59}));
  EXPECT_EQ(rows[0][6].s, std::string("\x00\x01\x02\xFF", 4));
  EXPECT_EQ(rows[0][7].s, "\xCA\xFE");
  EXPECT_EQ(rows[0][8].s, "abc");
  EXPECT_TRUE(rows[1][0].isNull());
  EXPECT_TRUE(rows[1][1].isNull());
  EXPECT_EQ(rows[1][2].s, "-1234567890123456789");
  EXPECT_EQ(rows[1][3].s, "0.0001");  // rounded half away from zero to four places
  EXPECT_TRUE(rows[1][4].isNull());   // blank date
  EXPECT_TRUE(rows[1][5].isNull());
  EXPECT_EQ(rows[1][6].s, "");
  EXPECT_EQ(rows[1][7].s, "");
  EXPECT_EQ(rows[1][8].s, "sixsix");
  EXPECT_EQ(rows[2][0].s, "?? and ?");
  EXPECT_EQ(rows[2][1].s, "??");
  EXPECT_EQ(rows[2][7].s, "\xAA\xBB\xCC\xDD");
  EXPECT_EQ(rows[2][8].s, "");
  // The CR LF inside the C value was cut off with the rest; the memo keeps line breaks.
  s.execute("INSERT INTO rt VALUES('', 'a'+CHR(13)+CHR(10)+'b', 0, 0, '', '', '', 0h, '')");
  s.flush();
  EXPECT_EQ(readAll(dir.file("rt.dbf"))[3][1].s, "a\r\nb");
}

TEST(Writer, TextForTypedFieldsIsConvertedOrRefusedWithTheField) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute("CREATE TABLE typed (n N(8,2), i I, b B, y Y, d D, t T, l L)");
  s.execute(
      "INSERT INTO typed VALUES('12.345', ' 42 ', '1.5e3', '-7.25', '2021-08-31', '2021-08-31 "
      "13:14:15', 'T')");
  s.flush();
  auto rows = readAll(dir.file("typed.dbf"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].s, "12.35");
  EXPECT_EQ(rows[0][1].i, 42);
  EXPECT_EQ(rows[0][2].d, 1500.0);
  EXPECT_EQ(rows[0][3].s, "-7.2500");
  EXPECT_EQ(rows[0][4].when.date, (vfp::Date{2021, 8, 31}));
  EXPECT_EQ(rows[0][5].when, (vfp::DateTime{{2021, 8, 31}, 13, 14, 15}));
  EXPECT_TRUE(rows[0][6].b);
  const char* bad[] = {"INSERT INTO typed VALUES('abc', 0, 0, 0, '', '', .F.)",
                       "INSERT INTO typed VALUES(0, 'x1', 0, 0, '', '', .F.)",
                       "INSERT INTO typed VALUES(0, 0, 'one', 0, '', '', .F.)",
                       "INSERT INTO typed VALUES(0, 0, 0, '$5', '', '', .F.)",
                       "INSERT INTO typed VALUES(0, 0, 0, 0, '2021-02-30', '', .F.)",
                       "INSERT INTO typed VALUES(0, 0, 0, 0, '', 'noon', .F.)",
                       "INSERT INTO typed VALUES(0, 0, 0, 0, '', '', 'maybe')"};
  const char* fields[] = {"N", "I", "B", "Y", "D", "T", "L"};
  for (int k = 0; k < 7; ++k) {
    try {
      s.execute(bad[k]);
      ADD_FAILURE() << bad[k];
    } catch (const vfp::Error& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("Data type mismatch (field ") + fields[k] + ") in table 'typed.dbf'.");
    }
  }
  EXPECT_THROW(s.execute("INSERT INTO typed VALUES('123456789', 0, 0, 0, '', '', .F.)"),
               vfp::Error);  // overflow
  s.flush();
  EXPECT_EQ(readAll(dir.file("typed.dbf")).size(), 1u);  // refused rows leave nothing behind
}

TEST(Writer, AutoincrementKeepsGoingAcrossSessionsAndPastStaleHeaders) {
  TempFolder dir;
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    s.execute("CREATE TABLE auto (id I AUTOINC NEXTVALUE 10 STEP 5, name C(5))");
    s.execute("INSERT INTO auto VALUES(0, 'a')");
    s.execute("INSERT INTO auto VALUES(0, 'b')");
  }
  vfp::Table t(dir.file("auto.dbf"));
  EXPECT_EQ(t.header().version, 0x31);
  EXPECT_EQ(t.header().fields[0].flags, 0x0C);
  EXPECT_EQ(t.header().fields[0].autoIncNext, 20u);
  // A tool that rebuilt the file left the next value behind the data.
  {
    vfp::File f(dir.file("auto.dbf"), vfp::File::Mode::ReadWrite);
    std::uint8_t one[4];
    vfp::bytes::putLe32(one, 1);
    f.writeAt(32 + vfp::header::kAutoIncNextOffset, one, 4);
  }
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    s.execute("INSERT INTO auto VALUES(0, 'c')");
  }
  auto rows = readAll(dir.file("auto.dbf"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0].i, 10);
  EXPECT_EQ(rows[1][0].i, 15);
  EXPECT_EQ(rows[2][0].i, 20);
  EXPECT_EQ(vfp::Table(dir.file("auto.dbf")).header().fields[0].autoIncNext, 25u);
}

TEST(Writer, RefusesToGrowATablePastTwoGigabytes) {
  TempFolder dir;
  auto w = vfp::TableWriter::create(dir.file("big.dbf"), {{"c", 'C', 250}});
  const vfp::TableHeader h = w->header();
  std::uint32_t fits =
      std::uint32_t((vfp::header::kMaxFileSize - 1 - h.headerLength) / h.recordLength);
  w.reset();
  // A sparse file whose header counts as many records as fit below the limit.
  {
    vfp::File f(dir.file("big.dbf"), vfp::File::Mode::ReadWrite);
    std::uint8_t count[4];
    vfp::bytes::putLe32(count, fits);
    f.writeAt(vfp::header::kCountOffset, count, 4);
    f.truncate(h.headerLength + std::uint64_t(fits) * h.recordLength);
  }
  auto a = vfp::TableWriter::openForAppend(dir.file("big.dbf"));
  vfp::Value v;
  v.setString(vfp::Value::Kind::Text) = "x";
  try {
    a->append(std::span<const vfp::Value>(&v, 1));
    FAIL() << "appended past 2 GB";
  } catch (const vfp::Error& e) {
    EXPECT_NE(std::string(e.what()).find("2 GB"), std::string::npos) << e.what();
  }
  a.reset();
  EXPECT_EQ(std::filesystem::file_size(dir.file("big.dbf")),
            h.headerLength + std::uint64_t(fits) * h.recordLength);
}

TEST(Writer, LongFieldNamesAreCutToTenAndMadeUnique) {
  EXPECT_EQ(vfp::freeTableFieldNames({"customer_contact_name", "customer_contact_address",
                                      "customer_contact_city", "id"}),
            (std::vector<std::string>{"CUSTOMER_C", "CUSTOMER_2", "CUSTOMER_3", "ID"}));
  std::vector<std::string> many(12, "abcdefghijklmnop");
  auto cut = vfp::freeTableFieldNames(many);
  EXPECT_EQ(cut[0], "ABCDEFGHIJ");
  EXPECT_EQ(cut[9], "ABCDEFGH10");
  EXPECT_EQ(cut[11], "ABCDEFGH12");
  // Accented names are cut by their code-page bytes and upper-cased the way FoxPro does.
  TempFolder dir;
  std::size_t replaced = 0;
  vfp::TableWriter::create(
      dir.file("acc.dbf"),
      {{"größe_und_gewicht", 'C', 1}, {"Größe_und_Breite", 'C', 1}, {"œuvre", 'C', 1}}, 1252,
      &replaced)
      .reset();
  vfp::Table t(dir.file("acc.dbf"));
  EXPECT_EQ(t.fieldName(0), "GRÖßE_UND_");
  EXPECT_EQ(t.fieldName(1), "GRÖßE_UND2");
  EXPECT_EQ(t.fieldName(2), "ŒUVRE");
  EXPECT_EQ(replaced, 0u);
}
