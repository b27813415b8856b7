// Reading the real FoxPro and dBase files of the fixtures: every table opens (or is refused with
// a clear reason), values equal what two independent readers give, structures equal the dumps
// made inside Visual FoxPro.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "support.h"
#include "vfp/error.h"

using namespace vfptest;
namespace fs = std::filesystem;

namespace {

bool isDbaseTwo(const std::string& path) { return path.find("dbase_02.dbf") != std::string::npos; }

std::vector<vfp::Value> row(const vfp::Table& t, std::uint32_t liveIndex) {
  vfp::RecordScanner scan(t);
  const std::uint8_t* r = nullptr;
  for (std::uint32_t i = 0; i <= liveIndex; ++i) r = scan.nextLive();
  std::vector<vfp::Value> out(t.userFields().size());
  for (std::size_t i = 0; i < out.size(); ++i)
    t.decodeField(r, std::size_t(t.userFields()[i]), out[i]);
  return out;
}

}  // namespace

TEST(FixtureRead, EveryTableOpensAndDecodesOrIsRefusedClearly) {
  auto tables = fixtureTables();
  ASSERT_GT(tables.size(), 50u);
  for (const auto& path : tables) {
    SCOPED_TRACE(path);
    if (isDbaseTwo(path)) {
      try {
        vfp::Table t(path);
        FAIL() << "dBase II table was opened";
      } catch (const vfp::Error& e) {
        EXPECT_NE(std::string(e.what()).find("dBase II"), std::string::npos) << e.what();
      }
      continue;
    }
    vfp::Table t(path);
    vfp::RecordScanner scan(t);
    vfp::Value v;
    std::uint32_t live = 0, all = 0;
    while (const auto* r = scan.next()) {
      ++all;
      if (vfp::Table::isDeleted(r)) continue;
      ++live;
      for (int i : t.userFields()) t.decodeField(r, std::size_t(i), v);
    }
    EXPECT_EQ(all, t.recordCount());
    EXPECT_EQ(live, t.countLiveRecords());
  }
}

TEST(FixtureRead, ValuesEqualThoseOfTheIndependentReaders) {
  if (!vfptest::independentReadersAvailable()) GTEST_SKIP() << "the Python readers run on Linux";
  TempFolder work;
  std::vector<std::string> tables;
  int k = 0;
  for (const auto& t : fixtureTables()) {
    if (isDbaseTwo(t)) continue;
    if (vfp::equalsNoCase(fs::path(t).extension().string(), ".dbc")) {
      // The readers look for a container's memos in an .fpt: show them the .dct under that name.
      std::string base = work.path + "/container" + std::to_string(k++);
      fs::create_symlink(t, base + ".dbf");
      fs::create_symlink(*vfp::findCompanion(t, ".dct"), base + ".fpt");
      tables.push_back(base + ".dbf");
      continue;
    }
    tables.push_back(t);
  }
  auto lines = compareWithReaders(tables, work.path);
  int okDbfread = 0, okDbf = 0;
  bool crashed = false;
  for (const auto& l : lines) {
    if (crashed || l.rfind("Traceback", 0) == 0) crashed = true;
    if (crashed || l.rfind("DIFF", 0) == 0) ADD_FAILURE() << l;
    if (l.rfind("OK dbfread", 0) == 0) ++okDbfread;
    if (l.rfind("OK python-dbf", 0) == 0) ++okDbf;
  }
  // The readers refuse some formats (V/Q/W, 0x32, dBase IV, containers); the rest must agree.
  EXPECT_GE(okDbfread, 50) << testing::PrintToString(lines);
  EXPECT_GE(okDbf, 35) << testing::PrintToString(lines);
}

// The .db2 files were written inside Visual FoxPro 9 and record each field's type, width,
// decimals and nullability, and the table's code page and version.
TEST(FixtureRead, StructureEqualsTheDumpsMadeInVisualFoxPro) {
  int compared = 0;
  for (const auto& dbfPath : fixtureTables()) {
    std::string db2 = vfp::replaceExtension(dbfPath, ".db2");
    std::ifstream in(db2);
    if (!in) continue;
    SCOPED_TRACE(dbfPath);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    vfp::Table t(dbfPath);
    auto tag = [](const std::string& block, const std::string& name) {
      std::smatch m;
      std::regex re("<" + name + ">([^<]*)</" + name + ">");
      return std::regex_search(block, m, re) ? m[1].str() : std::string("?");
    };
    EXPECT_EQ(tag(text, "CodePage"), std::to_string(t.codePage()));
    EXPECT_EQ(std::stoul(tag(text, "FileType"), nullptr, 16), t.header().version);
    std::vector<std::string> blocks;
    for (std::size_t p = 0; (p = text.find("<FIELD>", p)) != std::string::npos; ++p)
      blocks.push_back(text.substr(p, text.find("</FIELD>", p) - p));
    ASSERT_EQ(blocks.size(), t.userFields().size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const auto& f = t.header().fields[std::size_t(t.userFields()[i])];
      std::string longName = vfp::toUpperAscii(tag(blocks[i], "Name"));
      EXPECT_EQ(longName.substr(0, 10),
                f.name.substr(0, std::min<std::size_t>(10, longName.size())));
      EXPECT_EQ(tag(blocks[i], "Type"), std::string(1, f.type));
      EXPECT_EQ(tag(blocks[i], "Width"), std::to_string(f.length));
      EXPECT_EQ(tag(blocks[i], "Decimals"), std::to_string(f.decimals));
      EXPECT_EQ(tag(blocks[i], "Null") == ".T.", f.isNullable()) << f.name;
      if (f.type == 'C' || f.type == 'V' || f.type == 'M') {
        EXPECT_EQ(tag(blocks[i], "NoCPTran") == ".T.", f.isBinary()) << f.name;
      }
    }
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

TEST(FixtureRead, VarcharNullFlagsAutoincAndBinaryFieldsOfAVfp9FreeTable) {
  vfp::Table t(fixture("fdbozzo__foxbin2prg/TESTS/DATOS_READONLY/fb2p_free.dbf"));
  ASSERT_EQ(t.header().version, 0x32);
  const auto& h = t.header();
  // Bits: nullable C, D, T take 0-2; Q, V, V take 3-5 (fb2p_free's layout).
  int nullable = 0, varlen = 0;
  for (const auto& f : h.fields) {
    if (f.nullBit >= 0) ++nullable;
    if (f.varLengthBit >= 0) ++varlen;
  }
  EXPECT_EQ(nullable, 3);
  EXPECT_EQ(varlen, 3);
  auto r2 = row(t, 1);
  bool sawVarText = false;
  for (std::size_t i = 0; i < r2.size(); ++i) {
    const auto& f = h.fields[std::size_t(t.userFields()[i])];
    if (f.type == 'V' && !f.isBinary() && r2[i].kind == vfp::Value::Kind::Text &&
        !r2[i].s.empty()) {
      EXPECT_EQ(r2[i].s, "var char 6.áéíóúÜÑ");
      sawVarText = true;
    }
    if (f.type == 'Q') {
      EXPECT_EQ(r2[i].s.size(), 35u);  // exactly full: no length byte
    }
  }
  EXPECT_TRUE(sawVarText);
}

TEST(FixtureRead, DateTimesRoundToTheSecondFoxProMeant) {
  vfp::Table t(fixture("yortus__DBFFile/test/fixtures/vfp9_30.dbf"));
  bool found = false;
  for (std::uint32_t k = 0; k < t.countLiveRecords(); ++k)
    for (const auto& v : row(t, k))
      if (v.kind == vfp::Value::Kind::DateTime) {
        EXPECT_EQ(v.when.second, 0);
        EXPECT_EQ(v.when.minute, 30);
        found = true;
      }
  EXPECT_TRUE(found);
}

TEST(FixtureRead, OldFormatsCodePagesAndCompanionsInAnyLetterCase) {
  // FoxPro 2.x C field of 300 characters (length high byte in the decimal count).
  vfp::Table pr90(fixture("luads__php-xbase/tests/Resources/foxpro/pr90.dbf"));
  bool wide = false;
  for (const auto& f : pr90.header().fields) wide = wide || (f.type == 'C' && f.length == 300);
  EXPECT_TRUE(wide);
  // Cyrillic (1251) and Chinese (936) text arrive as UTF-8.
  vfp::Table cyr(fixture("infused__dbf/spec/fixtures/cp1251.dbf"));
  EXPECT_EQ(cyr.codePage(), 1251);
  bool cyrillic = false;
  for (const auto& v : row(cyr, 0)) cyrillic = cyrillic || v.s.find("\xD0") != std::string::npos;
  EXPECT_TRUE(cyrillic);
  vfp::Table gbk(fixture("albfernandez__javadbf/src/test/resources/gbk.dbf"));
  EXPECT_EQ(gbk.codePage(), 936);
  // calls.dbf keeps its memos in calls.FPT.
  vfp::Table calls(fixture("infused__dbf/spec/fixtures/foxprodb/calls.dbf"));
  EXPECT_GT(calls.countLiveRecords(), 0u);
  // A table asked for in the wrong letter case is still found.
  vfp::Table upper(fixture("VFPX__Samples/Northwind/ORDERS.DBF"));
  EXPECT_EQ(upper.countLiveRecords(), 830u);
}
