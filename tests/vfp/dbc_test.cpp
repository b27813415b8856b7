// Database containers: listing and reading their tables, creating and dropping tables in copies
// of the fixture containers, and damaged containers.
#include "vfp/dbc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "support.h"
#include "vfp/bytes.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/session.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/memo.h"
#include "vfp/table.h"

namespace fs = std::filesystem;
using namespace vfp::dbc;
using vfptest::fixture;
using vfptest::TempFolder;

namespace {

const std::vector<std::string> kContainers = {
    "VFPX__Samples/Data/testdata.dbc", "VFPX__Samples/Northwind/northwind.dbc",
    "fdbozzo__foxbin2prg/TESTS/DATOS_READONLY/fb2p_dbc.dbc",
    "infused__dbf/spec/fixtures/foxprodb/FOXPRO-DB-TEST.DBC"};

std::vector<std::string> names(const std::vector<vfp::CatalogEntry>& entries,
                               const std::string& type) {
  std::vector<std::string> out;
  for (const auto& e : entries)
    if (e.type == type) out.push_back(e.name);
  return out;
}

// The container's .dcx is exactly what rebuilding it from the container's rows gives.
void expectDcxCurrent(const std::string& dbc) {
  auto m = vfp::IndexMaintainer::open(dbc);
  ASSERT_NE(m, nullptr);
  const auto rebuilt = m->build();
  EXPECT_TRUE(vfptest::readFile(m->indexPath()) == std::string(rebuilt.begin(), rebuilt.end()));
}

std::string objectKey(std::int32_t parent, const std::string& type, const std::string& name) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%10d", parent);
  std::string key = std::string(buf) + type;
  key.resize(20, ' ');
  key += vfp::toLowerAscii(name);
  key.resize(148, ' ');
  return key;
}

bool dcxHasObject(const std::string& dcx, const std::string& key) {
  const auto f = vfp::cdx::IndexFile::open(dcx);
  for (const auto& k : f.keys(*f.findTag("OBJECTNAME"), ' '))
    if (k.key == key) return true;
  return false;
}

}  // namespace

TEST(Dbc, FixtureContainersListAndReadTheirTablesByLongName) {
  for (const auto& rel : kContainers) {
    SCOPED_TRACE(rel);
    auto cat = vfp::openCatalog(fixture(rel));
    const auto entries = cat->tables();
    ASSERT_FALSE(names(entries, "TABLE").empty());
    vfp::Session s(cat);
    for (const auto& e : entries) {
      if (e.type != "TABLE") continue;
      auto r = s.execute("SELECT * FROM [" + e.name + "]");
      ASSERT_NE(r, nullptr) << e.name;
      // Field names are the container's long ones, in the .dbf's field order.
      const auto longNames = cat->fieldNames(e.path);
      ASSERT_EQ(longNames.size(), r->fieldCount()) << e.name;
      for (std::size_t i = 0; i < r->fieldCount(); ++i) EXPECT_EQ(r->fieldName(i), longNames[i]);
      while (r->next()) {
      }
    }
  }
  // Deleted container rows are not listed; views are, by their long names.
  auto testdata = vfp::openCatalog(fixture("VFPX__Samples/Data/testdata.dbc"));
  auto t = names(testdata->tables(), "TABLE");
  std::sort(t.begin(), t.end());
  EXPECT_EQ(t,
            (std::vector<std::string>{"customer", "employee", "orders", "orditems", "products"}));
  auto fb2p = vfp::openCatalog(fixture(kContainers[2]));
  auto p = fb2p->findTable("NombreLargoDelDbf");
  ASSERT_TRUE(p);
  EXPECT_EQ(fs::path(*p).filename(), "fb2p_dbf.dbf");
  EXPECT_FALSE(names(fb2p->tables(), "VIEW").empty());
  vfp::Session s(vfp::openCatalog(fixture(kContainers[1])));
  auto orders = s.execute("SELECT * FROM orders");
  EXPECT_EQ(orders->fieldName(5), "shippeddate");  // SHIPPEDDAT in the .dbf
  try {
    s.execute("SELECT * FROM Alphabetical_List_Of_Products");
    FAIL();
  } catch (const vfp::Error& e) {
    EXPECT_NE(std::string(e.what()).find("is a view"), std::string::npos) << e.what();
  }
}

TEST(Dbc, MembersThatPointElsewhereAndMissingFilesGiveClearErrors) {
  TempFolder dir;
  vfptest::copyFixtureFolder(fixture(kContainers[3]), dir.path);
  const std::string dbc = dir.file("FOXPRO-DB-TEST.DBC");
  {  // types.dbf now claims another container
    vfp::Table t(dir.file("types.dbf"));
    vfp::TableHeader h = t.header();
    h.backlink = "other.dbc";
    const std::string bytes = h.encode();
    vfp::File f(dir.file("types.dbf"), vfp::File::Mode::ReadWrite);
    f.writeAt(0, bytes.data(), bytes.size());
  }
  auto cat = vfp::openCatalog(dbc);
  try {
    cat->findTable("types");
    FAIL();
  } catch (const vfp::Error& e) {
    const std::string msg = e.what();
    EXPECT_NE(msg.find("'other.dbc'"), std::string::npos) << msg;
    EXPECT_NE(msg.find("FOXPRO-DB-TEST.DBC"), std::string::npos) << msg;
  }
  fs::remove(dir.file("calls.dbf"));
  try {
    cat->tables();
    FAIL();
  } catch (const vfp::Error& e) {
    EXPECT_NE(std::string(e.what()).find("'calls.dbf', which does not exist"), std::string::npos)
        << e.what();
  }
}

TEST(Dbc, CreateTableAddsTheTableAsFoxProDoes) {
  TempFolder dir;
  vfptest::copyFixtureFolder(fixture(kContainers[3]), dir.path);
  const std::string dbc = dir.file("FOXPRO-DB-TEST.DBC");
  const std::size_t rowsBefore = vfp::Table(dbc).recordCount();
  {
    vfp::Session s(vfp::openCatalog(dbc));
    s.execute(
        "CREATE TABLE Account_Balances_By_Region (customer_identifier C(10), "
        "balance_amount_total N(12,2) NULL, opened_date D, last_login_timestamp T, active L, "
        "notes M, counter I AUTOINC, ratio B, amount Y, label V(20) NULL, picture W, "
        "customer_identifier2 C(5))");
    s.execute(
        "INSERT INTO account_balances_by_region VALUES ('C1', 10.5, {^2020-01-02}, "
        "{^2020-01-02 10:00:00}, .T., 'note', 0, 1.5, 2.25, 'lbl', 0h0102, 'X')");
    s.execute("CREATE TABLE loose FREE (a C(1))");
    s.flush();
  }
  // The container's rows.
  const Container c = Container::open(dbc);
  const Object* table = nullptr;
  for (const auto& o : c.objects())
    if (o.type == "Table" && o.name == "Account_Balances_By_Region") table = &o;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->recno, rowsBefore + 1);
  EXPECT_EQ(std::uint32_t(table->id), table->recno);
  EXPECT_EQ(table->parent, 1);
  ASSERT_EQ(table->properties.size(), 2u);  // as VFP writes a table without a primary key
  EXPECT_EQ(table->properties[0].id, propid::kClass);
  EXPECT_EQ(table->properties[0].value, std::string(1, '\1'));
  EXPECT_EQ(findProperty(table->properties, propid::kPath)->value,
            std::string("account_balances_by_region.dbf") + '\0');
  const auto fields = c.fieldNames(table->id);
  EXPECT_EQ(fields.size(), 12u);
  EXPECT_EQ(fields.front(), "customer_identifier");
  EXPECT_EQ(fields.back(), "customer_identifier2");
  for (const auto& o : c.objects())
    if (o.parent == table->id) {
      EXPECT_EQ(std::uint32_t(o.id), o.recno);
      EXPECT_TRUE(o.properties.empty());
    }
  // The table: cut, unique field names; backlink to the container.
  const auto member = Container::open(dbc).find("account_balances_by_region");
  ASSERT_TRUE(member);
  const std::string path = member->path;
  vfp::Table t(path);
  EXPECT_EQ(t.header().backlink, "foxpro-db-test.dbc");
  EXPECT_EQ(t.header().fields[0].name, "CUSTOMER_I");
  EXPECT_EQ(t.header().fields[11].name, "CUSTOMER_2");
  EXPECT_EQ(t.recordCount(), 1u);
  // The .dcx knows the new objects and is exactly a rebuild of the container.
  const std::string dcx = dir.file("FOXPRO-DB-TEST.DCX");
  EXPECT_TRUE(dcxHasObject(dcx, objectKey(1, "Table", "Account_Balances_By_Region")));
  EXPECT_TRUE(dcxHasObject(dcx, objectKey(table->id, "Field", "customer_identifier2")));
  expectDcxCurrent(dbc);
  // FREE made a free table outside the container.
  EXPECT_EQ(vfp::Table(dir.file("loose.dbf")).header().backlink, "");
  EXPECT_FALSE(Container::open(dbc).find("loose"));
  // Reopened, the container lists and reads it by its long names.
  vfp::Session again(vfp::openCatalog(dbc));
  auto r = again.execute("SELECT * FROM Account_Balances_By_Region");
  ASSERT_TRUE(r->next());
  EXPECT_EQ(r->fieldName(1), "balance_amount_total");
  EXPECT_EQ(r->value(0).s, "C1");
  // Creating it again replaces it, in the container too: one Table row, the new fields only.
  again.execute("CREATE TABLE \"ACCOUNT_BALANCES_BY_REGION\" (x_coordinate_value C(1))");
  const Container after = Container::open(dbc);
  int rows = 0;
  for (const auto& o : after.objects())
    if (o.type == "Table" && vfp::equalsNoCase(o.name, "account_balances_by_region")) {
      ++rows;
      EXPECT_EQ(after.fieldNames(o.id), std::vector<std::string>{"x_coordinate_value"});
    }
  EXPECT_EQ(rows, 1);
  EXPECT_FALSE(dcxHasObject(dcx, objectKey(table->id, "Field", "customer_identifier2")));
  expectDcxCurrent(dbc);
}

TEST(Dbc, DropTableRemovesTheMemberAndItsRelations) {
  TempFolder dir;
  vfptest::copyFixtureFolder(fixture(kContainers[3]), dir.path);
  const std::string dbc = dir.file("FOXPRO-DB-TEST.DBC");
  {
    vfp::Session s(vfp::openCatalog(dbc));
    s.execute("DROP TABLE contacts");
  }
  EXPECT_FALSE(fs::exists(dir.file("contacts.dbf")));
  EXPECT_FALSE(fs::exists(dir.file("contacts.CDX")));
  EXPECT_FALSE(fs::exists(dir.file("contacts.FPT")));
  const Container c = Container::open(dbc);
  EXPECT_FALSE(c.find("contacts"));
  for (const auto& o : c.objects()) {
    EXPECT_NE(o.parent, 12) << o.name;  // contacts' fields, indexes and relation
    const Property* parent = findProperty(o.properties, propid::kParentTable);
    EXPECT_FALSE(parent && parent->text() == "contacts") << o.name;
  }
  const std::string dcx = dir.file("FOXPRO-DB-TEST.DCX");
  EXPECT_FALSE(dcxHasObject(dcx, objectKey(1, "Table", "contacts")));
  EXPECT_TRUE(dcxHasObject(dcx, objectKey(1, "Table", "calls")));
  expectDcxCurrent(dbc);
  auto tables = names(vfp::openCatalog(dbc)->tables(), "TABLE");
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"calls", "setup", "types"}));
}

TEST(Dbc, RenameTableRenamesTheMemberAndItsFilesAndKeepsTheContainerExact) {
  TempFolder dir;
  vfptest::copyFixtureFolder(fixture(kContainers[3]), dir.path);
  const std::string dbc = dir.file("FOXPRO-DB-TEST.DBC");
  {
    vfp::Session s(vfp::openCatalog(dbc));
    // With a primary key: its index goes with the table, and the member keeps the key.
    s.execute("CREATE TABLE '" + dir.file("orders_new.DBF") + "' (note M, n N(3) PRIMARY KEY)");
    s.execute("INSERT INTO orders_new VALUES ('kept whole', 7)");
    // Relations keep their parent table by name; such a table is not renamed.
    try {
      s.execute("RENAME TABLE contacts TO people");
      ADD_FAILURE() << "renamed the parent of a relation";
    } catch (const vfp::Error& e) {
      EXPECT_NE(std::string(e.what()).find("is the parent of a relation"), std::string::npos)
          << e.what();
    }
    s.execute("RENAME TABLE orders_new TO orders");
  }
  EXPECT_FALSE(fs::exists(dir.file("orders_new.DBF")));
  EXPECT_FALSE(fs::exists(dir.file("orders_new.fpt")));
  EXPECT_FALSE(fs::exists(dir.file("orders_new.cdx")));
  EXPECT_TRUE(fs::exists(dir.file("contacts.dbf")));
  const Container c = Container::open(dbc);
  EXPECT_FALSE(c.find("orders_new"));
  const auto member = c.find("orders");
  ASSERT_TRUE(member);
  EXPECT_EQ(member->path, dir.file("orders.DBF"));
  EXPECT_EQ(c.fieldNames(member->id), (std::vector<std::string>{"note", "n"}));
  const Object* row = c.tableForFile(member->path);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(findProperty(row->properties, propid::kPath)->text(), "orders.dbf");
  EXPECT_EQ(findProperty(row->properties, propid::kClass)->value, std::string(1, '\1'));
  const std::string dcx = dir.file("FOXPRO-DB-TEST.DCX");
  EXPECT_TRUE(dcxHasObject(dcx, objectKey(1, "Table", "orders")));
  EXPECT_FALSE(dcxHasObject(dcx, objectKey(1, "Table", "orders_new")));
  expectDcxCurrent(dbc);
  EXPECT_EQ(vfp::Table(member->path).header().backlink, "foxpro-db-test.dbc");
  vfp::Session again(vfp::openCatalog(dbc));
  auto r = again.execute("SELECT * FROM orders");
  ASSERT_TRUE(r->next());
  EXPECT_EQ(r->value(0).s, "kept whole");
  r.reset();
  try {
    again.execute("INSERT INTO orders VALUES ('twice', 7)");
    again.flush();
    ADD_FAILURE() << "the renamed table lost its primary key";
  } catch (const vfp::Error& e) {
    EXPECT_NE(std::string(e.what()).find("Uniqueness of index"), std::string::npos) << e.what();
  }
  // The renamed table reads the same in code nobody here wrote (those readers take no .dbc).
  if (!vfptest::independentReadersAvailable()) return;
  TempFolder work;
  const auto lines = vfptest::compareWithReaders({member->path}, work.path);
  EXPECT_EQ(lines.size(), 2u);
  for (const auto& l : lines) EXPECT_EQ(l.rfind("OK", 0), 0u) << l;
}

TEST(Dbc, DamagedContainersGiveClearErrors) {
  std::mt19937 rng(4);
  for (const char* ext : {".dbc", ".dct"}) {
    const std::string source = fixture("VFPX__Samples/Northwind/northwind") + ext;
    const std::string good = vfptest::readFile(source);
    for (int i = 0; i < 150; ++i) {
      TempFolder dir;
      vfptest::copyFixtureFolder(fixture("VFPX__Samples/Northwind/northwind.dbc"), dir.path);
      std::string bad = good;
      if (i % 5 == 0)
        bad.resize(rng() % bad.size());
      else
        for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] ^= char(1 + rng() % 255);
      {
        vfp::File f(dir.file(std::string("northwind") + ext), vfp::File::Mode::Create);
        f.writeAt(0, bad.data(), bad.size());
      }
      try {
        const Container c = Container::open(dir.file("northwind.dbc"));
        c.members();
      } catch (const vfp::Error& e) {
        EXPECT_GT(std::string(e.what()).size(), 10u);
      }
    }
  }
}

// Property lists decode and encode back to FoxPro's exact bytes, unknown and user-defined ids
// included, and what a new table row gets has the shape of FoxPro's own rows.
TEST(Dbc, PropertyListsRoundTripFoxProBytes) {
  std::size_t lists = 0;
  for (const auto& rel : kContainers) {
    SCOPED_TRACE(rel);
    vfp::Table dbc(fixture(rel));
    const auto& prop = dbc.header().fields[std::size_t(dbc.header().fieldIndex("PROPERTY"))];
    vfp::MemoReader memo(*vfp::findCompanion(dbc.path(), ".dct"), vfp::MemoKind::Fpt);
    vfp::RecordScanner scan(dbc);
    while (const std::uint8_t* r = scan.nextLive()) {
      const std::uint32_t block = vfp::bytes::le32(r + prop.offset);
      if (!block) continue;
      std::string raw;
      memo.read(block, raw);
      EXPECT_EQ(encodeProperties(decodeProperties(raw)), raw) << scan.recno();
      ++lists;
    }
  }
  EXPECT_GT(lists, 300u);
  // FoxPro's row for the free-standing table "contacts": Class, then Path.
  const Container c = Container::open(fixture(kContainers[3]));
  const auto* contacts =
      c.tableForFile(fixture("infused__dbf/spec/fixtures/foxprodb/contacts.dbf"));
  ASSERT_NE(contacts, nullptr);
  EXPECT_EQ(encodeProperties(contacts->properties),
            encodeProperties({Property::byte(propid::kClass, objclass::kTable),
                              Property::string(propid::kPath, "contacts.dbf")}));
  EXPECT_THROW(decodeProperties(std::string("\x20\0\0\0\1\0\1", 7)), vfp::Error);
}
