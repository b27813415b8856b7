// MySQL to FoxPro with types, keys and indexes kept, through quillmere-transfer --typed: a
// database of typical types and keys arrives in a container and in a free folder with the
// fields the mapping gives, every tag holding exactly its records' keys (computed here from the
// rows, not by the engine), the independent readers reading the values MySQL holds, and what
// FoxPro cannot keep named in the report.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "support/mysql_sandbox.h"
#include "support/temp_folder.h"
#include "tests/vfp/support.h"
#include "vfp/cdx_reader.h"
#include "vfp/dbc.h"
#include "vfp/table.h"

namespace {

using vfp::cdx::IndexFile;
using vfp::cdx::KeyEntry;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// An integer key as FoxPro stores it: big-endian with the sign bit turned over.
std::string intKey(int v) {
  const auto u = std::uint32_t(v) ^ 0x80000000u;
  return {char(u >> 24), char(u >> 16), char(u >> 8), char(u)};
}

std::string padded(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

std::string str(long long v, int width) {
  std::string s = std::to_string(v);
  return std::string(std::size_t(width) - s.size(), ' ') + s;
}

// Keys sorted as the tag holds them: by key, then record number.
std::vector<KeyEntry> sorted(std::vector<KeyEntry> keys) {
  std::sort(keys.begin(), keys.end(), [](const KeyEntry& a, const KeyEntry& b) {
    return a.key != b.key ? a.key < b.key : a.recno < b.recno;
  });
  return keys;
}

// Customers in primary key order, as MySQL sends them (record n is the n-th).
struct Customer {
  int id;
  std::string code;
  std::optional<std::string> name;
  std::string day;  // yyyymmdd
};
const std::vector<Customer> kCustomers = {
    {3, "K-07", "Anna", "20210831"},
    {5, "K-01", std::nullopt, "19991231"},
    {9, "K-33", "Bert", "20000229"},
    {12, "K-02", "Anna", "20210830"},
};

struct Order {
  int ono, line, customer;
};
const std::vector<Order> kOrders = {{100, 1, 9}, {100, 2, 3}, {101, 1, 9}, {205, 7, 12}};

class TypedToFoxpro : public qmtest::MySqlDatabaseTest {
 protected:
  QTemporaryDir config;  // no stored settings: everything from the command line
  qmtest::TempFolder fox;

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    admin(
        "CREATE TABLE clients (id INT AUTO_INCREMENT PRIMARY KEY, code CHAR(6) NOT NULL, "
        "name CHAR(30) NULL, day DATE NOT NULL, tiny TINYINT UNSIGNED, small SMALLINT UNSIGNED, "
        "wide INT UNSIGNED, big BIGINT, active TINYINT(1), born YEAR, size ENUM('S','M','XL'), "
        "tags SET('a','bb','ccc'), amount DECIMAL(9,2), ratio DOUBLE, "
        "stamp TIMESTAMP(3) NULL DEFAULT NULL, at TIME, note TEXT, pic BLOB, "
        "UNIQUE KEY code (code), KEY name_and_day (name, day))");
    admin(
        "INSERT INTO clients VALUES "
        "(3, 'K-07', 'Anna', '2021-08-31', 255, 65535, 4294967295, -9223372036854775808, 1, "
        "2021, 'XL', 'a,ccc', -1234567.89, 0.1, '2021-08-31 12:34:56.789', '838:59:59', "
        "'it''s\\r\\ntwo lines', 0x00FF10),"
        "(5, 'K-01', NULL, '1999-12-31', 0, 0, 0, 9223372036854775807, 0, 1901, 'S', '', 0, "
        "-2.5e-300, NULL, '-01:02:03', NULL, NULL),"
        "(9, 'K-33', 'Bert', '2000-02-29', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
        "NULL, '2000-02-29 00:00:00.000', NULL, '', ''),"
        "(12, 'K-02', 'Anna', '2021-08-30', 1, 2, 3, 4, 1, 2155, 'M', 'bb', 9999999.99, 1e300, "
        "'1970-01-02 00:00:01.500', '23:59:59', 'x', 0x41)");
    admin(
        "CREATE TABLE bookings (ono INT NOT NULL, line SMALLINT NOT NULL, customer INT NOT NULL, "
        "PRIMARY KEY (ono, line), KEY by_customer (customer), "
        "CONSTRAINT fk_customer FOREIGN KEY (customer) REFERENCES clients (id))");
    for (const auto& o : kOrders)
      admin("INSERT INTO bookings VALUES (" + std::to_string(o.ono) + ", " +
            std::to_string(o.line) + ", " + std::to_string(o.customer) + ")");
  }

  ToolRun run(const QString& foxpro) {
    QStringList args{"--to-foxpro", "--typed", "--foxpro", foxpro};
    args << "--mysql-server" << QString::fromStdString(sandbox().host) << "--mysql-port"
         << QString::fromStdString(sandbox().port) << "--mysql-user"
         << QString::fromStdString(sandbox().adminUser) << "--mysql-password"
         << QString::fromStdString(sandbox().adminPassword) << "--mysql-database"
         << QString::fromStdString(database()) << "clients"
         << "bookings";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.remove("MYSQL_PWD");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QM_BINARY_DIR "/tools/quillmere-transfer"), args);
    EXPECT_TRUE(p.waitForFinished(120000));
    ToolRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
  }
};

// "C(6)", "N(12,2) NULL", "I AUTOINC": a field as the test states what it should be.
std::string shapeOf(const vfp::FieldDescriptor& f) {
  std::string s(1, f.type);
  if (f.type == 'C' || f.type == 'V' || f.type == 'N')
    s +=
        "(" + std::to_string(f.length) + (f.decimals ? "," + std::to_string(f.decimals) : "") + ")";
  if (f.isNullable()) s += " NULL";
  if (f.type == 'M' && f.isBinary()) s += " NOCPTRANS";
  if (f.isAutoInc()) s += " AUTOINC " + std::to_string(f.autoIncNext);
  return s;
}

std::map<std::string, std::string> fieldsOf(const std::string& path) {
  const vfp::Table t(path);
  std::map<std::string, std::string> out;
  for (int i : t.userFields()) out[t.fieldName(std::size_t(i))] = shapeOf(t.header().fields[i]);
  return out;
}

}  // namespace

TEST_F(TypedToFoxpro, TypesKeysAndValuesArriveInAContainerAndInAFreeFolder) {
  // A container: Northwind's, so the new tables join a database that has tables already.
  const QString northwind = QStringLiteral(QM_FIXTURES_DIR "/VFPX__Samples/Northwind");
  const QString folder = QString::fromStdString(fox.path);
  QDir().mkpath(folder + "/dbc");
  QDir().mkpath(folder + "/free");
  for (const QString& name : QDir(northwind).entryList(QDir::Files))
    ASSERT_TRUE(QFile::copy(northwind + "/" + name, folder + "/dbc/" + name));

  for (const bool container : {true, false}) {
    SCOPED_TRACE(container ? "container" : "free folder");
    const std::string dir = fox.path + (container ? "/dbc" : "/free");
    const ToolRun r = run(container ? folder + "/dbc/northwind.dbc" : folder + "/free");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    // Field types as mapped; long names in the container, ten characters in a free folder.
    const std::string customers = dir + "/clients.DBF";
    auto fields = fieldsOf(customers);
    const std::map<std::string, std::string> expected = {
        {"ID", "I AUTOINC 13"},  // MySQL's next value
        {"CODE", "C(6)"},       {"NAME", "C(30) NULL"},
        {"DAY", "D"},           {"TINY", "I NULL"},
        {"SMALL", "I NULL"},    {"WIDE", "N(10) NULL"},
        {"BIG", "N(20) NULL"},  {"ACTIVE", "L NULL"},
        {"BORN", "I NULL"},     {"SIZE", "C(2) NULL"},
        {"TAGS", "C(8) NULL"},  {"AMOUNT", "N(11,2) NULL"},
        {"RATIO", "B NULL"},    {"STAMP", "T NULL"},
        {"AT", "C(10) NULL"},  // 838:59:59 and -01:02:03 need a tenth character between them
        {"NOTE", "M NULL"},     {"PIC", "M NULL NOCPTRANS"},
    };
    EXPECT_EQ(fields, expected);
    EXPECT_EQ(fieldsOf(dir + "/bookings.DBF"),
              (std::map<std::string, std::string>{{"ONO", "I"}, {"LINE", "I"}, {"CUSTOMER", "I"}}));

    // Each tag holds exactly its records' keys.
    const IndexFile cdx = IndexFile::open(*vfp::findCompanion(customers, ".cdx"));
    std::map<std::string, std::vector<KeyEntry>> keys;
    for (std::uint32_t n = 1; n <= kCustomers.size(); ++n) {
      const Customer& c = kCustomers[n - 1];
      keys["ID"].push_back({intKey(c.id), n});
      keys["CODE"].push_back({padded(c.code, 6), n});
      keys["NAME_AND_D"].push_back(
          {c.name ? "\x80" + padded(*c.name, 30) + c.day : std::string(39, '\0'), n});
    }
    ASSERT_EQ(cdx.tags().size(), keys.size());
    for (const auto& [tag, want] : keys) {
      const auto* t = cdx.findTag(tag);
      ASSERT_NE(t, nullptr) << tag;
      EXPECT_EQ(cdx.keys(*t, tag == "ID" ? 0 : ' '), sorted(want)) << tag;
      // The primary and the unique key are candidate tags, the plain index is not.
      EXPECT_EQ(bool(t->header.options & vfp::cdx::option::kCandidate), tag != "NAME_AND_D") << tag;
    }
    const IndexFile orderTags = IndexFile::open(*vfp::findCompanion(dir + "/bookings.DBF", ".cdx"));
    // MySQL may send these rows in the order of any index that covers them: the keys are
    // computed from the records as they arrived, which must be the rows MySQL has.
    std::vector<KeyEntry> primary, byCustomer;
    std::vector<std::array<long long, 3>> arrived, sent;
    {
      const vfp::Table t(dir + "/bookings.DBF");
      std::vector<std::uint8_t> record(t.header().recordLength);
      for (std::uint32_t n = 1; n <= t.recordCount(); ++n) {
        t.readRecord(n - 1, record.data());
        std::array<long long, 3> row{};
        for (std::size_t k = 0; k < 3; ++k) {
          vfp::Value v;
          t.decodeField(record.data(), std::size_t(t.userFields()[k]), v);
          row[k] = v.i;
        }
        arrived.push_back(row);
        primary.push_back({str(row[0], 11) + str(row[1], 11), n});
        byCustomer.push_back({intKey(int(row[2])), n});
      }
    }
    for (const auto& o : kOrders) sent.push_back({o.ono, o.line, o.customer});
    std::sort(arrived.begin(), arrived.end());
    EXPECT_EQ(arrived, sent);
    ASSERT_EQ(orderTags.tags().size(), 2u);
    ASSERT_NE(orderTags.findTag("ONO"), nullptr);
    ASSERT_NE(orderTags.findTag("BY_CUSTOME"), nullptr);
    EXPECT_EQ(orderTags.keys(*orderTags.findTag("ONO"), ' '), sorted(primary));
    EXPECT_EQ(orderTags.keys(*orderTags.findTag("BY_CUSTOME"), 0), sorted(byCustomer));

    // The container knows the primary keys and the relation; a free folder has neither, and
    // the report says so.
    if (container) {
      const auto dbc = vfp::dbc::Container::open(dir + "/northwind.dbc");
      bool related = false;
      for (const auto& rel : dbc.relations())
        related = related || (vfp::equalsNoCase(rel.childTable, "bookings") &&
                              vfp::equalsNoCase(rel.parentTable, "clients") &&
                              vfp::equalsNoCase(rel.childTag, "by_custome") &&
                              vfp::equalsNoCase(rel.parentTag, "id"));
      EXPECT_TRUE(related) << r.out;
    } else {
      EXPECT_NE(r.out.find("foreign key fk_customer of bookings (to clients) is not sent: free "
                           "tables have no relations"),
                std::string::npos)
          << r.out;
      EXPECT_NE(r.out.find("primary key -> candidate tag ID (id); a free table has no primary "
                           "key"),
                std::string::npos)
          << r.out;
    }
    // What FoxPro cannot keep is named.
    for (const char* said : {"column stamp T NULL: FoxPro keeps whole seconds",
                             "column stamp: 2 values lose their "
                             "fractions of a second",
                             "column at C(10) NULL: FoxPro has no time of day"})
      EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out;

    // The values, as two readers that are not the engine read them.
    qmtest::TempFolder work;
    const auto lines = vfptest::compareWithReaders({customers, dir + "/bookings.DBF"}, work.path);
    for (const std::string& table : {customers, dir + "/bookings.DBF"})
      EXPECT_NE(std::find(lines.begin(), lines.end(), "OK dbfread " + table + " 4"), lines.end())
          << testing::PrintToString(lines);
    for (const auto& l : lines) EXPECT_EQ(l.rfind("DIFF", 0), std::string::npos) << l;
    // And the values are MySQL's, typed.
    const vfp::Table t(customers);
    std::vector<std::uint8_t> record(t.header().recordLength);
    t.readRecord(0, record.data());
    auto valueOf = [&](const std::string& name) {
      for (int i : t.userFields())
        if (t.fieldName(std::size_t(i)) == name) {
          vfp::Value v;
          t.decodeField(record.data(), std::size_t(i), v);
          return v;
        }
      return vfp::Value{};
    };
    EXPECT_EQ(valueOf("WIDE").s, "4294967295");
    EXPECT_EQ(valueOf("BIG").s, "-9223372036854775808");
    EXPECT_EQ(valueOf("AMOUNT").s, "-1234567.89");
    EXPECT_TRUE(valueOf("ACTIVE").b);
    EXPECT_EQ(valueOf("BORN").i, 2021);
    EXPECT_EQ(valueOf("TAGS").s, "a,ccc");
    EXPECT_EQ(valueOf("AT").s, "838:59:59");
    EXPECT_EQ(valueOf("STAMP").when, (vfp::DateTime{{2021, 8, 31}, 12, 34, 56}));
    EXPECT_EQ(valueOf("NOTE").s, "it's\r\ntwo lines");
    EXPECT_EQ(valueOf("PIC").s, std::string("\x00\xFF\x10", 3));
  }
}
