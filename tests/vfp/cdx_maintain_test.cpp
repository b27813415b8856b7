// Writing to tables with a structural index: the index stays exact, or nothing is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/session.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/keyexpr.h"
#include "vfp/table.h"

namespace fs = std::filesystem;
using vfp::cdx::IndexFile;
using vfptest::folderBytes;
using vfptest::TempFolder;

namespace {

vfp::Value text(const std::string& s) {
  vfp::Value v;
  v.setString(vfp::Value::Kind::Text) = s;
  return v;
}
vfp::Value integer(std::int64_t i) {
  vfp::Value v;
  v.setInt(i);
  return v;
}
vfp::Value date(int y, int m, int d) {
  vfp::Value v;
  v.setDate({y, m, d});
  return v;
}

}  // namespace

// Appending to a container's member table with nullable, date, integer and character tags: the
// index on disk is the one a rebuild from scratch gives, and it holds the new records.
TEST(CdxMaintain, AppendingKeepsEveryTagExact) {
  TempFolder dir;
  vfptest::copyFixtureFolder(vfptest::fixture("VFPX__Samples/Northwind/orders.dbf"), dir.path);
  const std::string orders = dir.file("orders.dbf");
  {
    auto w = vfp::TableWriter::openForAppend(orders);
    const vfp::Value row1[] = {vfp::Value{}, text("ALFKI"), integer(5), date(1998, 5, 7),
                               vfp::Value{}, vfp::Value{},  integer(2)};
    w->append(row1);
    const vfp::Value row2[] = {vfp::Value{}, text("AAAAA"), integer(1), date(1990, 1, 1)};
    w->append(row2);
    w->flush();
  }
  const IndexFile onDisk = IndexFile::open(dir.file("orders.cdx"));
  const auto fresh = vfp::IndexMaintainer::open(orders)->build();
  EXPECT_TRUE(onDisk.bytes() == fresh);

  // The new records are where their keys sort.
  const auto ids = onDisk.keys(*onDisk.findTag("ORDERID"), 0);
  ASSERT_EQ(ids.size(), 832u);
  EXPECT_EQ(ids[830].recno, 831u);
  EXPECT_EQ(ids[831].recno, 832u);
  EXPECT_EQ(ids[831].key, std::string("\x80\x00\x2B\x47", 4));  // 11079, the next autoincrement
  const auto customers = onDisk.keys(*onDisk.findTag("CUSTOMERID"), ' ');
  // Null keys (all zero) come first; then the new "AAAAA" before every real customer.
  auto firstReal =
      std::find_if(customers.begin(), customers.end(), [](const auto& k) { return k.key[0] != 0; });
  ASSERT_NE(firstReal, customers.end());
  EXPECT_EQ(firstReal->key,
            "\x80"
            "AAAAA");
  EXPECT_EQ(firstReal->recno, 832u);
  const auto shipped = onDisk.keys(*onDisk.findTag("SHIPPEDDAT"), 0);
  // Row 1 gave .NULL.; row 2 left the date blank, which is a real (empty) date key.
  EXPECT_EQ(std::count_if(shipped.begin(), shipped.end(),
                          [](const auto& k) { return k.key == std::string(9, '\0'); }),
            21 + 1);
  const std::string blankDate = "\x80" + vfp::keyexpr::encodeDouble(0);
  EXPECT_EQ(std::count_if(shipped.begin(), shipped.end(),
                          [&](const auto& k) { return k.key == blankDate && k.recno == 832; }),
            1);
}

TEST(CdxMaintain, UnsupportedIndexRefusesTheWriteAndChangesNothing) {
  TempFolder dir;
  vfptest::copyFixtureFolder(
      vfptest::fixture("fdbozzo__foxbin2prg/TESTS/DATOS_READONLY/fb2p_free.dbf"), dir.path);
  const auto before = folderBytes(dir.path);
  try {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    s.execute("INSERT INTO fb2p_free VALUES ('x')");
    s.flush();
    FAIL() << "the insert was accepted";
  } catch (const vfp::Error& e) {
    const std::string msg = e.what();
    EXPECT_NE(msg.find("fb2p_free.dbf"), std::string::npos) << msg;
    EXPECT_NE(msg.find("tag CARACTER (caracter FOR .NOT.EMPTY(caracter))"), std::string::npos)
        << msg;
    EXPECT_NE(msg.find("GENERAL"), std::string::npos) << msg;
  }
  EXPECT_TRUE(folderBytes(dir.path) == before);
}

TEST(CdxMaintain, CandidateKeysStayUnique) {
  TempFolder dir;
  vfptest::copyFixtureFolder(vfptest::fixture("VFPX__Samples/Data/products.dbf"), dir.path);
  const std::string products = dir.file("products.dbf");
  const IndexFile original = IndexFile::open(dir.file("products.cdx"));
  const auto existing = original.keys(original.tags().front(), ' ');
  ASSERT_FALSE(existing.empty());
  auto w = vfp::TableWriter::openForAppend(products);
  const vfp::Value dup[] = {text(existing.front().key)};
  try {
    w->append(dup);
    FAIL() << "a duplicate primary key was accepted";
  } catch (const vfp::Error& e) {
    EXPECT_NE(std::string(e.what()).find("Uniqueness of index PRODUCT_ID"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(w->recordCount(), 77u);
  const vfp::Value fresh[] = {text("ZZZ999")};
  w->append(fresh);
  EXPECT_THROW(w->append(fresh), vfp::Error);  // also against rows not yet written
  w->flush();
  const IndexFile after = IndexFile::open(dir.file("products.cdx"));
  const auto keys = after.keys(after.tags().front(), ' ');
  ASSERT_EQ(keys.size(), 78u);
  EXPECT_EQ(keys.back().key, "ZZZ999");
  EXPECT_EQ(keys.back().recno, 78u);
}

TEST(CdxMaintain, MissingIndexOrContainerRefusesTheWrite) {
  TempFolder dir;
  vfptest::copyFixtureFolder(vfptest::fixture("VFPX__Samples/Northwind/region.dbf"), dir.path);
  fs::remove(dir.file("northwind.dbc"));
  try {
    vfp::TableWriter::openForAppend(dir.file("region.dbf"));
    FAIL();
  } catch (const vfp::Error& e) {
    EXPECT_NE(std::string(e.what()).find("'northwind.dbc', which is not found"), std::string::npos)
        << e.what();
  }
  TempFolder dir2;
  vfptest::copyFixtureFolder(vfptest::fixture("VFPX__Samples/Data/products.dbf"), dir2.path);
  fs::remove(dir2.file("products.cdx"));
  try {
    vfp::TableWriter::openForAppend(dir2.file("products.dbf"));
    FAIL();
  } catch (const vfp::Error& e) {
    EXPECT_NE(std::string(e.what()).find("'products.cdx' is not found"), std::string::npos)
        << e.what();
  }
}

// Every fixture table whose index can be maintained: after appending a row, the index on disk
// is the one a rebuild from scratch gives, with one more key in each tag without a FOR clause.
TEST(CdxMaintain, AppendingToEveryWritableFixtureTableKeepsItsIndexExact) {
  std::size_t checked = 0;
  for (const auto& table : vfptest::fixtureTables()) {
    if (vfp::equalsNoCase(fs::path(table).extension().string(), ".dbc")) continue;
    try {
      if (!(vfp::Table(table).header().tableFlags & vfp::tableflag::kHasCdx)) continue;
    } catch (const vfp::Error&) {
      continue;  // tables the engine does not read at all
    }
    SCOPED_TRACE(table);
    TempFolder dir;
    vfptest::copyFixtureFolder(table, dir.path);
    const std::string copy = dir.file(fs::path(table).filename().string());
    std::unique_ptr<vfp::TableWriter> w;
    try {
      w = vfp::TableWriter::openForAppend(copy);
    } catch (const vfp::Error&) {
      continue;  // refused: covered by the tests of refusals
    }
    const auto before = IndexFile::open(vfp::IndexMaintainer::open(copy)->indexPath());
    try {
      w->append({});
    } catch (const vfp::Error& e) {
      // A blank row can collide with a blank primary key already there.
      EXPECT_NE(std::string(e.what()).find("Uniqueness"), std::string::npos) << e.what();
      continue;
    }
    w->flush();
    w.reset();
    auto m = vfp::IndexMaintainer::open(copy);
    const auto after = IndexFile::open(m->indexPath());
    EXPECT_TRUE(after.bytes() == m->build());
    for (const auto& t : before.tags()) {
      if (!t.header.forExpression.empty() || (t.header.options & vfp::cdx::option::kUnique))
        continue;
      EXPECT_EQ(after.keys(*after.findTag(t.name), 0).size(), before.keys(t, 0).size() + 1)
          << t.name;
    }
    ++checked;
  }
  EXPECT_GE(checked, 15u);
}
