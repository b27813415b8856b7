// The FoxPro list and its delete button against folders of free tables made with the engine and
// against a copy of a real database container.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "catalogue/form2.h"
#include "catalogue/table_list.h"
#include "catalogue_support.h"
#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "support/scripted_dialogs.h"

using testing_support::UiTestEnvironment;

namespace {

void copyFolder(const QString& from, const QString& to) {
  QDir().mkpath(to);
  for (const QString& name : QDir(from).entryList(QDir::Files)) {
    ASSERT_TRUE(QFile::copy(from + "/" + name, to + "/" + name)) << name.toStdString();
  }
}

class FoxproSide : public ::testing::Test {
 protected:
  UiTestEnvironment env;
  QTemporaryDir dir;
  platform::ConnectionFields fields;

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    fields.useDbcFile = false;
    fields.freeTableFolder = dir.path();
    env.app().connectionFields = [this] { return fields; };
  }

  void useContainer(const QString& dbc) {
    fields.useDbcFile = true;
    fields.dbcFile = dbc;
  }
  void run(const std::string& sql) {
    ado::Connection cn;
    cn.open(FoxproConnectionString());
    cn.execute(sql);
  }
  Form2& form() { return env.app().window<Form2>(); }
  QListWidget& list() { return *form().List2; }
  void relist() { Foxpro::AddTablesToFoxproListbox(list(), FoxproConnectionString()); }
  QStringList messages() {
    QStringList out;
    for (const auto& m : env.dialogs().messages()) out << m.text;
    return out;
  }
};

}  // namespace

TEST_F(FoxproSide, ListsExactlyTheCurrentTablesOfAFolderSortedIgnoringCase) {
  relist();
  EXPECT_TRUE(entries(list()).isEmpty());
  run("CREATE TABLE orders (id I)");
  run("CREATE TABLE Customers (id I)");
  run("CREATE TABLE [my table] (id I)");
  run("CREATE TABLE archive (id I)");
  relist();
  EXPECT_EQ(entries(list()), (QStringList{"archive", "Customers", "my table", "orders"}));

  list().selectAll();
  run("DROP TABLE orders");
  run("CREATE TABLE Beta (id I)");
  relist();
  EXPECT_EQ(entries(list()), (QStringList{"archive", "Beta", "Customers", "my table"}));
  EXPECT_TRUE(selectedEntries(list()).isEmpty());
  EXPECT_TRUE(env.dialogs().shown.empty());
}

TEST_F(FoxproSide, AContainerListsItsTablesButNotItsViews) {
  copyFolder(QM_FIXTURES_DIR "/VFPX__Samples/Northwind", dir.path());
  useContainer(dir.filePath("northwind.dbc"));
  relist();
  EXPECT_EQ(entries(list()),
            (QStringList{"Categories", "CustomerCustomerDemo", "CustomerDemographics", "Customers",
                         "Employees", "EmployeeTerritories", "OrderDetails", "Orders", "Products",
                         "Region", "Shippers", "Suppliers", "Territories"}));

  // Deleting container tables takes them out of the container.
  selectOnly(list(), {"Region", "Territories"});
  form().PushButton5->click();
  EXPECT_TRUE(messages().isEmpty()) << messages().join("\n").toStdString();
  QStringList left = entries(list());
  relist();
  EXPECT_EQ(entries(list()), left);
  EXPECT_FALSE(left.contains("Region"));
  EXPECT_FALSE(left.contains("Territories"));
  EXPECT_EQ(left.size(), 11);
}

TEST_F(FoxproSide, DeleteDropsTheSelectedTablesWhateverTheirNames) {
  run("CREATE TABLE a (id I)");
  run("CREATE TABLE [my table] (id I)");
  run("CREATE TABLE [we`ird] (id I)");
  run("CREATE TABLE keep (id I)");
  relist();

  // Nothing current: the connection is opened, then the message.
  form().PushButton5->click();
  EXPECT_EQ(messages(), QStringList{"Please select a table"});
  env.dialogs().shown.clear();
  // A current entry, nothing selected: no choice either.
  selectOnly(list(), {"a"});
  list().clearSelection();
  form().PushButton5->click();
  EXPECT_EQ(entries(list()), (QStringList{"a", "keep", "my table", "we`ird"}));
  EXPECT_EQ(messages(), QStringList{"Please select a table"});
  env.dialogs().shown.clear();

  selectOnly(list(), {"a", "my table", "we`ird"});
  form().PushButton5->click();
  EXPECT_EQ(entries(list()), QStringList{"keep"});
  EXPECT_EQ(QDir(dir.path()).entryList({"*.dbf"}, QDir::Files), QStringList{"keep.dbf"});
  EXPECT_TRUE(env.dialogs().shown.empty());
  EXPECT_EQ(form().pointer().state(), platform::WindowPointer::State::Normal);
}

TEST_F(FoxproSide, ARefusedDropIsReportedAndItsEntryStays) {
  // The container's tables seen as a folder of free tables: each belongs to its database and
  // the engine refuses to drop it from outside; a real free table beside them goes.
  copyFolder(QM_FIXTURES_DIR "/VFPX__Samples/Northwind", dir.path());
  run("CREATE TABLE scratch (id I)");
  relist();
  ASSERT_TRUE(entries(list()).contains("region"));
  selectOnly(list(), {"region", "scratch"});
  form().PushButton5->click();
  EXPECT_TRUE(entries(list()).contains("region"));
  EXPECT_FALSE(entries(list()).contains("scratch"));
  EXPECT_TRUE(QFile::exists(dir.filePath("region.dbf")));
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains("Form2.PushButton5_Click at line 108"))
      << shown[0].text.toStdString();

  // Without a connection nothing is dropped and nothing leaves the list.
  env.dialogs().shown.clear();
  fields.freeTableFolder = dir.filePath("missing");
  selectOnly(list(), {"customers"});
  form().PushButton5->click();
  EXPECT_TRUE(entries(list()).contains("customers"));
  EXPECT_EQ(env.dialogs().messages().size(), 1u);
}

TEST_F(FoxproSide, ALaterListingOfTheSameListSupersedesOneStillRunning) {
  QTemporaryDir other;
  run("CREATE TABLE first1 (id I)");
  run("CREATE TABLE first2 (id I)");
  platform::ConnectionFields otherFields = fields;
  otherFields.freeTableFolder = other.path();
  {
    ado::Connection cn;
    cn.open(platform::FoxproConnectionString(otherFields));
    cn.execute("CREATE TABLE second (id I)");
  }
  // Runs while the first listing yields for its first table.
  QTimer::singleShot(0, [&] {
    Foxpro::AddTablesToFoxproListbox(list(), platform::FoxproConnectionString(otherFields));
  });
  relist();
  EXPECT_EQ(entries(list()), QStringList{"second"});
}
