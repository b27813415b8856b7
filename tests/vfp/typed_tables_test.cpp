// Tables that keep their shape: typed CREATE TABLE with keys, INDEX ON, ALTER TABLE, typed
// INSERT, and the reading side (describeTable, describeRelations), in a free folder and in a
// container. Keys are checked against what this file computes from the inserted values itself,
// and against FoxPro's own index files.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "cdx_compare.h"
#include "support.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/session.h"
#include "vfp/dbc.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/schema.h"
#include "vfp/table.h"

namespace fs = std::filesystem;
using vfp::cdx::IndexFile;
using vfp::cdx::KeyEntry;
using vfptest::errorOf;
using vfptest::folderBytes;
using vfptest::TempFolder;

namespace {

// --- keys as FoxPro stores them, computed here from the values, not by the engine -----------

std::string sortableDouble(double v) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(v == 0 ? 0.0 : v);
  bits = v < 0 ? ~bits : bits ^ (std::uint64_t{1} << 63);
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[std::size_t(i)] = char(bits >> (8 * (7 - i)));
  return out;
}

std::string padded(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

std::string upper(std::string s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

// The names below hold one letter beyond ASCII; the table keeps it in code page 1252.
std::string cp1252(std::string s) {
  for (auto at = s.find("\xC3\xBC"); at != std::string::npos; at = s.find("\xC3\xBC"))
    s.replace(at, 2, "\xFC");
  return s;
}

// A nullable key: marker byte 0x80 before the value, all zeros for .NULL.
std::string nullable(const std::optional<std::string>& v, std::size_t width) {
  return v ? "\x80" + *v : std::string(width + 1, '\0');
}

struct Row {
  int id;
  std::string code;                         // C(8)
  std::optional<std::string> name;          // V(30) NULL
  std::optional<long> cents;                // amount N(12,2) NULL, in cents
  double ratio;                             // B
  long priceTenThousandths;                 // Y
  double qty;                               // F(8,1), one decimal
  std::optional<std::array<int, 3>> day;    // D NULL
  std::optional<std::array<int, 6>> stamp;  // T NULL
  bool flag;
};

std::vector<Row> makeRows(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Row> rows;
  for (int i = 0; i < count; ++i) {
    Row r;
    r.code = "k" + std::to_string(rng() % 60);
    if (rng() % 7)
      r.name = std::string(rng() % 2 ? "Müller " : "smith ") + std::to_string(rng() % 500);
    if (rng() % 5) r.cents = long(rng() % 2000000) - 1000000;
    r.ratio = (double(rng() % 100000) - 50000) / 7.0;
    r.priceTenThousandths = long(rng() % 10000000);
    r.qty = double(int(rng() % 20000) - 10000) / 10.0;
    if (rng() % 6)
      r.day = std::array<int, 3>{int(1990 + rng() % 40), int(1 + rng() % 12), int(1 + rng() % 28)};
    if (rng() % 6)
      r.stamp = std::array<int, 6>{int(2000 + rng() % 20), int(1 + rng() % 12), int(1 + rng() % 28),
                                   int(rng() % 24),        int(rng() % 60),     int(rng() % 60)};
    r.flag = rng() % 2;
    rows.push_back(r);
  }
  // Ids unique, in no order.
  std::vector<int> ids(static_cast<std::size_t>(count), 0);
  for (int i = 0; i < count; ++i) ids[std::size_t(i)] = i * 3 + 7;
  std::shuffle(ids.begin(), ids.end(), rng);
  for (int i = 0; i < count; ++i) rows[std::size_t(i)].id = ids[std::size_t(i)];
  return rows;
}

std::string two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }
std::string four(int v) {
  std::string s = std::to_string(v);
  return std::string(4 - s.size(), '0') + s;
}

std::string insertOf(const std::string& table, const Row& r) {
  auto money = [](long cents) {
    const std::string sign = cents < 0 ? "-" : "";
    const long a = std::labs(cents);
    return sign + std::to_string(a / 100) + "." + two(int(a % 100));
  };
  char ratio[40];
  std::snprintf(ratio, sizeof ratio, "%.17g", r.ratio);
  char qty[32];
  std::snprintf(qty, sizeof qty, "%.1f", r.qty);
  std::string price = std::to_string(r.priceTenThousandths / 10000) + "." +
                      four(int(r.priceTenThousandths % 10000));
  std::string s = "INSERT INTO " + table + " VALUES (" + std::to_string(r.id) + ", '" + r.code +
                  "', " + (r.name ? "'" + *r.name + "'" : std::string(".NULL.")) + ", 'note of " +
                  std::to_string(r.id) + "', " + (r.cents ? money(*r.cents) : "NULL") + ", " +
                  ratio + ", " + price + ", " + qty + ", ";
  s += r.day ? "{^" + four((*r.day)[0]) + "-" + two((*r.day)[1]) + "-" + two((*r.day)[2]) + "}"
             : ".NULL.";
  s += ", ";
  s += r.stamp ? "{^" + four((*r.stamp)[0]) + "-" + two((*r.stamp)[1]) + "-" + two((*r.stamp)[2]) +
                     " " + two((*r.stamp)[3]) + ":" + two((*r.stamp)[4]) + ":" +
                     two((*r.stamp)[5]) + "}"
               : ".NULL.";
  s += std::string(", ") + (r.flag ? ".T." : ".F.") + ", 0h0102, 0hCAFE, 0h151C00, 0h00FF1020, " +
       "0hAB, 'bytes')";
  return s;
}

// The tags CREATE TABLE and INDEX ON make below, and each one's keys from the rows.
const char* const kCreate =
    " (id I NOT NULL, code C(8), name V(30) NULL, note M, amount N(12,2) NULL, ratio B, "
    "price Y, qty F(8,1), day D NULL, stamp T NULL, flag L, raw Q(6), pic W, gen G, "
    "bin C(4) NOCPTRANS, vbin V(6) NOCPTRANS, mbin M NOCPTRANS";

const char* const kIndexes[] = {
    "INDEX ON UPPER(code)+name TAG codename",
    "INDEX ON STR(amount, 12, 2) TAG amount",
    "INDEX ON DTOS(day) TAG day DESCENDING",
    "INDEX ON TTOC(stamp, 1) TAG stamp FOR !flag",
    "INDEX ON code TAG ucode UNIQUE",
    "INDEX ON qty TAG qty",
    "INDEX ON ratio TAG ratio",
    "INDEX ON DTOS(day)+code TAG daycode",
};

std::map<std::string, std::vector<KeyEntry>> expectedKeys(const std::vector<Row>& rows) {
  std::map<std::string, std::vector<KeyEntry>> k;
  for (std::uint32_t recno = 1; recno <= rows.size(); ++recno) {
    const Row& r = rows[recno - 1];
    const auto u = std::uint32_t(r.id) ^ 0x80000000u;
    k["ID"].push_back({{char(u >> 24), char(u >> 16), char(u >> 8), char(u)}, recno});
    k["CODENAME"].push_back(
        {nullable(r.name ? std::optional(padded(upper(padded(r.code, 8)) + cp1252(*r.name), 38))
                         : std::nullopt,
                  38),
         recno});
    std::optional<std::string> amount;
    if (r.cents) {
      char b[32];
      std::snprintf(b, sizeof b, "%12.2f", double(*r.cents) / 100.0);
      amount = b;
    }
    k["AMOUNT"].push_back({nullable(amount, 12), recno});
    std::optional<std::string> dtos;
    if (r.day) dtos = four((*r.day)[0]) + two((*r.day)[1]) + two((*r.day)[2]);
    k["DAY"].push_back({nullable(dtos, 8), recno});
    if (!r.flag) {
      std::optional<std::string> ttoc;
      if (r.stamp) {
        const auto& t = *r.stamp;
        ttoc = four(t[0]) + two(t[1]) + two(t[2]) + two(t[3]) + two(t[4]) + two(t[5]);
      }
      k["STAMP"].push_back({nullable(ttoc, 14), recno});
    }
    k["UCODE"].push_back({padded(r.code, 8), recno});
    k["QTY"].push_back({sortableDouble(r.qty), recno});
    k["RATIO"].push_back({sortableDouble(r.ratio), recno});
    k["DAYCODE"].push_back(
        {nullable(dtos ? std::optional(*dtos + padded(r.code, 8)) : std::nullopt, 16), recno});
  }
  for (auto& [name, keys] : k) {
    std::sort(keys.begin(), keys.end(), [](const KeyEntry& a, const KeyEntry& b) {
      return a.key != b.key ? a.key < b.key : a.recno < b.recno;
    });
    if (name == "UCODE")  // UNIQUE: the first record of each key
      keys.erase(std::unique(keys.begin(), keys.end(),
                             [](const KeyEntry& a, const KeyEntry& b) { return a.key == b.key; }),
                 keys.end());
  }
  return k;
}

// Values as typed literals, for copying a fixture table through SQL.
std::string literal(const vfp::Value& v) {
  using K = vfp::Value::Kind;
  switch (v.kind) {
    case K::Null:
      return ".NULL.";
    case K::Bool:
      return v.b ? ".T." : ".F.";
    case K::Int:
      return std::to_string(v.i);
    case K::Double: {
      char b[40];
      std::snprintf(b, sizeof b, "%.17g", v.d);
      return b;
    }
    case K::Decimal:
      return v.s;
    case K::Text: {
      std::string out = "'";
      for (char c : v.s) out += c == '\'' ? std::string("''") : std::string(1, c);
      return out + "'";
    }
    case K::Bytes: {
      static const char* hex = "0123456789ABCDEF";
      std::string out = "0h";
      for (unsigned char c : v.s) {
        out += hex[c >> 4];
        out += hex[c & 15];
      }
      return out;
    }
    case K::Date:
      return "{^" + four(v.when.date.year) + "-" + two(v.when.date.month) + "-" +
             two(v.when.date.day) + "}";
    case K::DateTime:
      return "{^" + four(v.when.date.year) + "-" + two(v.when.date.month) + "-" +
             two(v.when.date.day) + " " + two(v.when.hour) + ":" + two(v.when.minute) + ":" +
             two(v.when.second) + "}";
  }
  return "";
}

}  // namespace

// Every field type with keys, in a free folder (candidate keys) and in a container (a primary
// key, defaults, a relation): rows inserted in two sessions; every tag holds exactly the rows'
// keys in order; a duplicate key is refused with nothing written; what describeTable and
// describeRelations read back is what was made.
TEST(TypedTables, EveryTypeWithKeysKeepsItsIndexesExactInAFolderAndAContainer) {
  for (const bool container : {false, true}) {
    SCOPED_TRACE(container ? "container" : "free folder");
    TempFolder dir;
    std::string source = dir.path;
    if (container) {
      vfptest::copyFixtureFolder(
          vfptest::fixture("infused__dbf/spec/fixtures/foxprodb/FOXPRO-DB-TEST.DBC"), dir.path);
      source = dir.file("FOXPRO-DB-TEST.DBC");
    }
    const std::vector<Row> rows = makeRows(2500, container ? 7 : 3);
    const std::string key = container ? ", PRIMARY KEY id TAG id)" : ", UNIQUE id TAG id)";
    {
      vfp::Session s(vfp::openCatalog(source));
      s.execute(std::string("CREATE TABLE alltypes") + kCreate + key);
      for (const char* sql : kIndexes) s.execute(sql);
      for (std::size_t i = 0; i < rows.size() / 2; ++i) s.execute(insertOf("alltypes", rows[i]));
    }
    vfp::Session s(vfp::openCatalog(source));
    for (std::size_t i = rows.size() / 2; i < rows.size(); ++i)
      s.execute(insertOf("alltypes", rows[i]));
    s.flush();

    const std::string path = s.resolve("alltypes", true);
    const auto cdxPath = vfp::findCompanion(path, ".cdx");
    ASSERT_TRUE(cdxPath);
    EXPECT_TRUE(vfp::Table(path).header().tableFlags & vfp::tableflag::kHasCdx);
    {
      const IndexFile cdx = IndexFile::open(*cdxPath);
      const auto expected = expectedKeys(rows);
      ASSERT_EQ(cdx.tags().size(), expected.size());
      for (const auto& [name, keys] : expected) {
        const auto* tag = cdx.findTag(name);
        ASSERT_NE(tag, nullptr) << name;
        const bool number = name == "ID" || name == "QTY" || name == "RATIO";
        EXPECT_TRUE(cdx.keys(*tag, number ? 0 : ' ') == keys) << name;
      }
      EXPECT_TRUE(cdx.findTag("DAY")->header.descending);
      EXPECT_EQ(cdx.findTag("STAMP")->header.forExpression, "!flag");
      // What is on disk is what a rebuild from the records gives, page for page.
      const IndexFile rebuilt =
          IndexFile::fromBytes(vfp::IndexMaintainer::open(path)->build(), "rebuilt");
      for (const auto& t : cdx.tags())
        EXPECT_EQ(cdxtest::comparePages(cdx, t, rebuilt, *rebuilt.findTag(t.name)), "") << t.name;
    }

    // A key the table holds, and one the batch holds, are refused; nothing is written for them.
    const auto before = folderBytes(dir.path);
    EXPECT_NE(errorOf(s, insertOf("alltypes", rows[5])).find("Uniqueness of index ID is violated"),
              std::string::npos);
    EXPECT_TRUE(folderBytes(dir.path) == before);
    Row fresh = rows[0];
    fresh.id = 1;
    s.execute(insertOf("alltypes", fresh));
    EXPECT_NE(errorOf(s, insertOf("alltypes", fresh)).find("Uniqueness of index ID"),
              std::string::npos);
    s.flush();
    EXPECT_EQ(vfp::Table(path).recordCount(), rows.size() + 1);
    // The refused rows left no memo blocks behind: the one row took its four (one 64-byte block
    // each).
    const auto memo = *vfp::findCompanion(path, ".fpt");
    EXPECT_EQ(fs::file_size(memo) - before.at(fs::path(memo).filename().string()).size(), 4u * 64);
    // A candidate index over keys that repeat is refused before anything changes.
    const auto withFresh = folderBytes(dir.path);
    s.execute("USE alltypes");
    EXPECT_NE(errorOf(s, "INDEX ON code TAG dupcode CANDIDATE").find("Uniqueness of index DUPCODE"),
              std::string::npos);
    EXPECT_TRUE(folderBytes(dir.path) == withFresh);

    // The reading side.
    const vfp::TableSchema t = vfp::describeTable(path);
    ASSERT_EQ(t.fields.size(), 17u);
    const std::string letters = "ICVMNBYFDTLQWGCVM";
    for (std::size_t i = 0; i < letters.size(); ++i) EXPECT_EQ(t.fields[i].type, letters[i]) << i;
    EXPECT_EQ(t.fields[1].width, 8u);
    EXPECT_EQ(t.fields[4].width, 12u);
    EXPECT_EQ(t.fields[4].decimals, 2);
    EXPECT_EQ(t.fields[7].decimals, 1);
    EXPECT_TRUE(t.fields[2].nullable && t.fields[4].nullable && t.fields[8].nullable);
    EXPECT_FALSE(t.fields[0].nullable || t.fields[1].nullable || t.fields[5].binary);
    EXPECT_TRUE(t.fields[14].binary && t.fields[15].binary && t.fields[16].binary &&
                t.fields[11].binary);
    EXPECT_FALSE(t.fields[1].binary || t.fields[3].binary);
    EXPECT_EQ(t.fields[0].name, container ? "id" : "ID");
    ASSERT_EQ(t.tags.size(), 9u);
    std::map<std::string, vfp::TagSchema> tags;
    for (const auto& tag : t.tags) tags[tag.name] = tag;
    EXPECT_EQ(tags["ID"].kind, container ? vfp::TagKind::Primary : vfp::TagKind::Candidate);
    EXPECT_EQ(tags["UCODE"].kind, vfp::TagKind::Unique);
    EXPECT_EQ(tags["CODENAME"].kind, vfp::TagKind::Regular);
    EXPECT_EQ(tags["CODENAME"].expression, "UPPER(code)+name");
    EXPECT_EQ(tags["STAMP"].filter, "!flag");
    EXPECT_TRUE(tags["DAY"].descending);
    EXPECT_EQ(tags["DAY"].collation, "MACHINE");
    EXPECT_EQ(t.container.empty(), !container);
  }
}

// What only a database keeps: long names, defaults, a primary key, relations; refused for free
// tables as FoxPro refuses them.
TEST(TypedTables, ContainersKeepDefaultsPrimaryKeysAndRelations) {
  TempFolder dir;
  vfptest::copyFixtureFolder(
      vfptest::fixture("infused__dbf/spec/fixtures/foxprodb/FOXPRO-DB-TEST.DBC"), dir.path);
  const std::string dbc = dir.file("FOXPRO-DB-TEST.DBC");
  {
    vfp::Session s(vfp::openCatalog(dbc));
    s.execute(
        "CREATE TABLE customer_accounts (customer_number I PRIMARY KEY, "
        "customer_name C(40) DEFAULT 'unknown', credit_limit Y DEFAULT 1000, "
        "is_active L DEFAULT .T., region_code C(3) NULL DEFAULT .NULL.)");
    s.execute("INSERT INTO customer_accounts VALUES (10, 'Ann', 5, .T., 'N')");
    s.execute("INSERT INTO customer_accounts VALUES (20, 'Bob', 5, .F., NULL)");
    s.execute(
        "CREATE TABLE customer_orders (order_number I, customer_number I, placed_at T, "
        "FOREIGN KEY customer_number TAG customer REFERENCES customer_accounts)");
    s.execute("INSERT INTO customer_orders VALUES (1, 10, {^2024-01-02 03:04:05})");
    s.execute("INSERT INTO customer_orders VALUES (2, 20, {^2024-01-03 03:04:05})");
    s.execute("INSERT INTO customer_orders VALUES (5, 10, {^2024-01-04 03:04:05})");
    s.execute("ALTER TABLE customer_orders ADD PRIMARY KEY order_number TAG order_num");
    s.execute("ALTER TABLE customer_orders ALTER COLUMN order_number I AUTOINC");
    s.execute("ALTER TABLE types ADD FOREIGN KEY TAG type_id REFERENCES customer_accounts");
    // FoxPro writes the FOR before the TAG.
    s.execute("ALTER TABLE customer_accounts ADD UNIQUE customer_name FOR is_active TAG active");
    EXPECT_NE(errorOf(s, "ALTER TABLE customer_orders ADD PRIMARY KEY placed_at TAG p")
                  .find("already has a primary key (tag ORDER_NUM)"),
              std::string::npos);
    EXPECT_NE(errorOf(s,
                      "ALTER TABLE customer_orders ADD FOREIGN KEY order_number TAG x "
                      "REFERENCES customer_orders TAG customer")
                  .find("neither a primary nor a candidate"),
              std::string::npos);
    // The autoincrement continues after the values the rows kept.
    s.execute("INSERT INTO customer_orders VALUES (0, 20, {^2024-02-01 00:00:00})");
    EXPECT_NE(errorOf(s, "INSERT INTO customer_accounts VALUES (10, 'Dup', 1, .T., 'X')")
                  .find("Uniqueness of index CUSTOMER_N is violated"),
              std::string::npos);
    // A free table of the container's folder takes candidate keys only.
    EXPECT_NE(errorOf(s, "CREATE TABLE loose FREE (a I PRIMARY KEY)").find("free table"),
              std::string::npos);
    EXPECT_NE(errorOf(s, "CREATE TABLE loose FREE (a I DEFAULT 1)").find("free table"),
              std::string::npos);
    s.execute("CREATE TABLE loose FREE (a I UNIQUE)");
    EXPECT_NE(errorOf(s, "ALTER TABLE 'loose.dbf' ADD PRIMARY KEY a TAG pk").find("free table"),
              std::string::npos);
  }
  vfp::Session s(vfp::openCatalog(dbc));
  const auto accounts = vfp::describeTable(s.resolve("customer_accounts", true));
  ASSERT_EQ(accounts.fields.size(), 5u);
  EXPECT_EQ(accounts.name, "customer_accounts");
  EXPECT_EQ(accounts.fields[1].name, "customer_name");
  EXPECT_EQ(accounts.fields[1].dbfName, "CUSTOMER_2");  // cut to ten, then made unique
  EXPECT_EQ(accounts.fields[1].defaultValue, "'unknown'");
  EXPECT_EQ(accounts.fields[2].defaultValue, "1000");
  EXPECT_EQ(accounts.fields[3].defaultValue, ".T.");
  EXPECT_EQ(accounts.fields[4].defaultValue, ".NULL.");
  EXPECT_EQ(accounts.fields[0].defaultValue, "");
  ASSERT_EQ(accounts.tags.size(), 2u);
  EXPECT_EQ(accounts.tags[0].name, "CUSTOMER_N");
  EXPECT_EQ(accounts.tags[0].expression, "customer_number");
  EXPECT_EQ(accounts.tags[0].kind, vfp::TagKind::Primary);
  EXPECT_EQ(accounts.tags[1].name, "ACTIVE");
  EXPECT_EQ(accounts.tags[1].filter, "is_active");
  EXPECT_EQ(accounts.tags[1].kind, vfp::TagKind::Candidate);

  const auto orders = vfp::describeTable(s.resolve("customer_orders", true));
  EXPECT_TRUE(orders.fields[0].autoInc);
  EXPECT_EQ(orders.fields[0].autoIncNext, 7u);  // 1, 2, 5 kept; the new row took 6
  EXPECT_EQ(orders.fields[0].autoIncStep, 1);
  std::map<std::string, vfp::TagKind> kinds;
  for (const auto& t : orders.tags) kinds[t.name] = t.kind;
  EXPECT_EQ(kinds, (std::map<std::string, vfp::TagKind>{{"CUSTOMER", vfp::TagKind::Regular},
                                                        {"ORDER_NUM", vfp::TagKind::Primary}}));
  {
    auto r = s.execute("SELECT * FROM customer_orders");
    std::vector<std::int64_t> ids;
    while (r->next()) ids.push_back(r->value(0).i);
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 5, 6}));
  }

  auto relations = vfp::describeRelations(dbc);
  std::vector<std::string> joined;
  for (const auto& r : relations)
    joined.push_back(r.childTable + "." + r.childTag + ">" + r.parentTable + "." + r.parentTag);
  EXPECT_NE(std::find(joined.begin(), joined.end(),
                      "customer_orders.CUSTOMER>customer_accounts.CUSTOMER_N"),
            joined.end());
  EXPECT_NE(std::find(joined.begin(), joined.end(), "types.TYPE_ID>customer_accounts.CUSTOMER_N"),
            joined.end());
  EXPECT_NE(std::find(joined.begin(), joined.end(), "contacts.TYPE_ID>types.TYPE_ID"),
            joined.end());  // FoxPro's own
  // The container's rows: FoxPro numbers a child's relations; its .dcx knows every new row.
  const auto c = vfp::dbc::Container::open(dbc);
  std::vector<std::string> typeRelations;
  for (const auto& r : c.relations())
    if (r.childTable == "types" || r.childTable == "contacts") typeRelations.push_back(r.name);
  EXPECT_EQ(typeRelations, (std::vector<std::string>{"Relation 1", "Relation 1"}));
  auto m = vfp::IndexMaintainer::open(dbc);
  const auto rebuilt = m->build();
  EXPECT_TRUE(vfptest::readFile(m->indexPath()) == std::string(rebuilt.begin(), rebuilt.end()));
}

// Tables FoxPro built in one pass, made again through SQL (the same fields, their records as
// typed INSERTs, the same tags by INDEX ON): the index pages are FoxPro's own.
TEST(TypedTables, IndexesMadeThroughSqlAreFoxProsPageForPage) {
  struct Case {
    const char* file;
    const char* container;
  };
  const Case cases[] = {
      {"infused__dbf/spec/fixtures/foxprodb/calls.dbf", "FOXPRO-DB-TEST.DBC"},
      {"infused__dbf/spec/fixtures/foxprodb/contacts.dbf", "FOXPRO-DB-TEST.DBC"},
      {"infused__dbf/spec/fixtures/foxprodb/types.dbf", "FOXPRO-DB-TEST.DBC"},
      {"infused__dbf/spec/fixtures/foxprodb/setup.dbf", "FOXPRO-DB-TEST.DBC"},
      {"VFPX__Samples/Northwind/region.dbf", "northwind.dbc"},
      {"VFPX__Samples/Northwind/shippers.dbf", "northwind.dbc"},
      {"VFPX__Samples/Northwind/employees.dbf", "northwind.dbc"},
  };
  std::size_t compared = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TempFolder dir;
    vfptest::copyFixtureFolder(vfptest::fixture(c.file), dir.path);
    const vfp::Table original(vfptest::fixture(c.file));
    ASSERT_EQ(original.countLiveRecords(), original.recordCount());  // INSERT makes live rows
    const vfp::TableSchema shape = vfp::describeTable(vfptest::fixture(c.file));
    std::string create = "CREATE TABLE again (";
    for (std::size_t i = 0; i < shape.fields.size(); ++i) {
      const auto& f = shape.fields[i];
      if (i) create += ", ";
      create += f.name + " " + std::string(1, f.type);
      if (f.type == 'C' || f.type == 'V' || f.type == 'Q' || f.type == 'N' || f.type == 'F' ||
          (f.type == 'B' && f.decimals))
        create += "(" + std::to_string(f.width) + "," + std::to_string(f.decimals) + ")";
      if (f.nullable) create += " NULL";
      if (f.binary && (f.type == 'C' || f.type == 'V' || f.type == 'M')) create += " NOCPTRANS";
    }
    vfp::Session s(vfp::openCatalog(dir.file(c.container)));
    s.execute(create + ")");
    vfp::RecordScanner scan(original);
    vfp::Value v;
    while (const auto* r = scan.next()) {
      std::string values;
      for (std::size_t i = 0; i < shape.fields.size(); ++i) {
        original.decodeField(r, std::size_t(original.userFields()[i]), v);
        std::string l = literal(v);
        // A blank date or number reads as null; a field without nulls takes it blank.
        if (v.isNull() && !shape.fields[i].nullable)
          l = std::string("DT").find(shape.fields[i].type) != std::string::npos ? "{}" : "''";
        values += (values.empty() ? "" : ", ") + l;
      }
      s.execute("INSERT INTO again VALUES (" + values + ")");
    }
    for (std::size_t i = 0; i < shape.fields.size(); ++i)
      if (shape.fields[i].autoInc)  // kept values, then FoxPro's counter
        s.execute("ALTER TABLE again ALTER COLUMN " + shape.fields[i].name + " I AUTOINC");
    s.execute("USE again");
    for (const auto& t : shape.tags) {
      std::string sql = "INDEX ON " + t.expression + " TAG " + t.name;
      if (!t.filter.empty()) sql += " FOR " + t.filter;
      if (t.descending) sql += " DESCENDING";
      if (t.kind == vfp::TagKind::Candidate || t.kind == vfp::TagKind::Primary) sql += " CANDIDATE";
      if (t.kind == vfp::TagKind::Unique) sql += " UNIQUE";
      s.execute(sql);
    }
    s.flush();
    const IndexFile theirs = IndexFile::open(*vfp::findCompanion(vfptest::fixture(c.file), ".cdx"));
    const IndexFile ours = IndexFile::open(*vfp::findCompanion(s.resolve("again", true), ".cdx"));
    ASSERT_EQ(ours.tags().size(), theirs.tags().size());
    for (const auto& t : theirs.tags()) {
      const auto* mine = ours.findTag(t.name);
      ASSERT_NE(mine, nullptr) << t.name;
      EXPECT_EQ(cdxtest::comparePages(theirs, t, ours, *mine), "") << t.name;
      ++compared;
    }
    // The container lists the new tags as its own Index rows.
    const auto container = vfp::dbc::Container::open(dir.file(c.container));
    const auto* row = container.tableForFile(s.resolve("again", true));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(container.children(row->id, "Index").size(), theirs.tags().size());
  }
  EXPECT_GE(compared, 12u);
}

// Python readers read a typed table with keys like any other.
TEST(TypedTables, TablesWithKeysReadBackInTheIndependentReaders) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute(
      "CREATE TABLE keyed (ch C(12) NULL, num N(20,4), flo F(10,2), i I UNIQUE, y Y, d D NULL, "
      "t T, l L, m M, mbin M NOCPTRANS)");
  s.execute("INDEX ON UPPER(ch) TAG ch");
  s.execute("INDEX ON DTOS(d)+STR(num, 20, 4) TAG dnum");
  s.execute(
      "INSERT INTO keyed VALUES ('it''s', -12345678901234.5678, 3.14, -2147483648, "
      "922337203685477.5807, {^1999-12-31}, {^2021-08-31 23:59:59}, .T., 'two'+CHR(13)+CHR(10)+"
      "'lines', 0h00FF10)");
  s.execute(
      "INSERT INTO keyed VALUES (NULL, 0, -0.5, 0, -922337203685477.5808, NULL, {}, .F., '', '')");
  s.execute(
      "INSERT INTO keyed VALUES ('Ä€‰ œŸ¥', 12, 0, 2147483647, 0, {^0100-01-01}, "
      "{^9999-12-31 00:00:01}, .T., 'ÿ', 0h)");
  s.flush();
  if (!vfptest::independentReadersAvailable()) GTEST_SKIP() << "the Python readers run on Linux";
  TempFolder work;
  const auto lines = vfptest::compareWithReaders({dir.file("keyed.dbf")}, work.path);
  for (const std::string& expected : {"OK dbfread " + dir.file("keyed.dbf") + " 3",
                                      "OK python-dbf " + dir.file("keyed.dbf") + " 3"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end())
        << expected << "\n"
        << testing::PrintToString(lines);
  for (const auto& l : lines) EXPECT_EQ(l.rfind("DIFF", 0), std::string::npos) << l;
}
