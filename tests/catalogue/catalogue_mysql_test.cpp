// The MySQL list and its delete and rename buttons against the private MariaDB, each test in a
// database of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>

#include "catalogue/form2.h"
#include "catalogue/table_list.h"
#include "catalogue_support.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"

using testing_support::UiTestEnvironment;

namespace {

class MySqlSide : public qmtest::MySqlDatabaseTest {
 protected:
  UiTestEnvironment env;

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    password = QString::fromStdString(sandbox().adminPassword);
    env.app().connectionFields = [this] {
      platform::ConnectionFields f = adminFields();
      f.password = password;
      return f;
    };
  }

  Form2& form() { return env.app().window<Form2>(); }
  QListWidget& list() { return *form().List1; }
  void relist() { MySQL::AddTablesToMySQLListbox(list()); }
  QStringList serverTables() { return databaseTables(connectionString(), "SHOW TABLES"); }
  QStringList messages() {
    QStringList out;
    for (const auto& m : env.dialogs().messages()) out << m.text;
    return out;
  }

  QString password;
};

// The table `held` locked for writing by another session while this lives, and the program's
// lock waits limited to two seconds meanwhile.
struct HeldTable {
  ado::Connection other;
  ado::Limits saved = ado::DefaultLimits();
  explicit HeldTable(const std::string& connection) {
    other.open(connection);
    other.execute("LOCK TABLES held WRITE");
    ado::DefaultLimits().lockWaitSeconds = 2;
  }
  ~HeldTable() {
    ado::DefaultLimits() = saved;
    try {
      other.execute("UNLOCK TABLES");
    } catch (const std::exception&) {
      // closing the session releases the lock too
    }
  }
};

}  // namespace

TEST_F(MySqlSide, ListsExactlyTheCurrentTablesViewsIncludedSortedIgnoringCase) {
  relist();
  EXPECT_TRUE(entries(list()).isEmpty());
  admin("CREATE TABLE orders (id INT)");
  admin("CREATE TABLE Customers (id INT)");
  admin("CREATE TABLE `Zeta Table` (id INT)");
  admin("CREATE TABLE archive (id INT)");
  admin("CREATE VIEW big_orders AS SELECT id FROM orders");
  relist();
  EXPECT_EQ(entries(list()),
            (QStringList{"archive", "big_orders", "Customers", "orders", "Zeta Table"}));

  // Changes made elsewhere: a refill shows exactly what is there now, nothing selected.
  list().selectAll();
  admin("DROP TABLE orders");
  admin("DROP VIEW big_orders");
  admin("CREATE TABLE Beta (id INT)");
  relist();
  EXPECT_EQ(entries(list()), (QStringList{"archive", "Beta", "Customers", "Zeta Table"}));
  EXPECT_TRUE(selectedEntries(list()).isEmpty());
  EXPECT_TRUE(env.dialogs().shown.empty());

  // A connection that cannot be opened is reported once and leaves the list empty.
  password = "wrong";
  relist();
  EXPECT_TRUE(entries(list()).isEmpty());
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Application Error");
  EXPECT_TRUE(
      shown[0].text.contains("in Dovrant2021/08/31.MySQL.AddTablesToMySQLListbox at "
                             "line 100"))
      << shown[0].text.toStdString();
}

TEST_F(MySqlSide, DeleteDropsTheSelectedTablesWhateverTheirNamesAndKeepsARefusedOne) {
  for (const char* t : {"CREATE TABLE a (id INT)", "CREATE TABLE `Order Details` (id INT)",
                        "CREATE TABLE `we``ird` (id INT)", "CREATE TABLE keep1 (id INT)",
                        "CREATE TABLE Keep2 (id INT)", "CREATE VIEW v AS SELECT id FROM keep1"}) {
    admin(t);
  }
  relist();
  selectOnly(list(), {"a", "Order Details", "we`ird", "v"});
  form().PushButton1->click();
  // The view cannot be dropped as a table: reported, and its entry stays with it.
  EXPECT_EQ(entries(list()), (QStringList{"keep1", "Keep2", "v"}));
  QStringList onServer = serverTables();
  onServer.sort(Qt::CaseInsensitive);
  EXPECT_EQ(onServer, (QStringList{"keep1", "Keep2", "v"}));
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains("is a view")) << shown[0].text.toStdString();
  EXPECT_TRUE(shown[0].text.contains("Form2.PushButton1_Click at line 106"));
  EXPECT_EQ(form().pointer().state(), platform::WindowPointer::State::Normal);
}

TEST_F(MySqlSide, RenameShowsTheNameAsStoredAndARefusalChangesNothing) {
  admin("CREATE TABLE Orders (id INT)");
  admin("CREATE TABLE existing (id INT)");
  admin("CREATE TABLE `back``tick` (id INT)");
  relist();
  selectOnly(list(), {"Orders"});
  env.dialogs().textAnswers = {"Archive2021"};
  form().PushButton6->click();
  // This server keeps names as given (the folding server has its own test).
  ASSERT_EQ(databaseTables(connectionString(), "SELECT @@lower_case_table_names")[0], "0");
  const QString stored = "Archive2021";
  EXPECT_EQ(entries(list()), (QStringList{stored, "back`tick", "existing"}));
  EXPECT_TRUE(serverTables().contains(stored));
  EXPECT_TRUE(selectedEntries(list()).isEmpty());
  EXPECT_TRUE(env.dialogs().messages().empty());

  // The entry names its table: it can be renamed again, backticks and all.
  selectOnly(list(), {stored});
  env.dialogs().textAnswers = {"with`tick and space"};
  form().PushButton6->click();
  selectOnly(list(), {"back`tick"});
  env.dialogs().textAnswers = {"plain"};
  form().PushButton6->click();
  EXPECT_EQ(entries(list()), (QStringList{"existing", "plain", "with`tick and space"}));

  // Refused (the name is taken): reported, and the list still shows both tables.
  selectOnly(list(), {"plain"});
  env.dialogs().textAnswers = {"existing"};
  form().PushButton6->click();
  EXPECT_EQ(entries(list()), (QStringList{"existing", "plain", "with`tick and space"}));
  QStringList onServer = serverTables();
  onServer.sort(Qt::CaseInsensitive);
  EXPECT_EQ(onServer, entries(list()));
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains("Form2.PushButton6_Click at line 110"));
  EXPECT_EQ(form().pointer().state(), platform::WindowPointer::State::Normal);
}

TEST_F(MySqlSide, ClosingTheWindowDuringADeleteStopsIt) {
  admin("CREATE TABLE a (id INT)");
  admin("CREATE TABLE b (id INT)");
  relist();
  selectOnly(list(), {"a", "b"});
  // The delete yields before each entry; the window is closed at the first yield.
  QTimer::singleShot(0, [this] { form().close(); });
  form().PushButton1->click();
  EXPECT_EQ(env.endRequests, 1);
  EXPECT_EQ(entries(list()), (QStringList{"a", "b"}));
  EXPECT_EQ(serverTables().size(), 2);
}

TEST_F(MySqlSide, SelectAllThenDeleteDropsEveryTableAndARefusedPressSaysBusy) {
  admin("CREATE TABLE a (id INT)");
  admin("CREATE TABLE b (id INT)");
  relist();
  form().PushButton10->click();  // "Select All": no current entry
  ASSERT_EQ(list().currentRow(), -1);
  // The delete yields before each table; a press meanwhile is refused in the bar's text.
  QString barWhileBusy;
  QTimer::singleShot(0, [this, &barWhileBusy] {
    form().PushButton6->click();
    barWhileBusy = form().ProgressBar1->format();
  });
  form().PushButton1->click();
  EXPECT_EQ(barWhileBusy, "Busy: deleting 1 of 2");
  EXPECT_EQ(form().ProgressBar1->format(), "Progress Bar");
  EXPECT_TRUE(entries(list()).isEmpty());
  EXPECT_TRUE(serverTables().isEmpty());
  EXPECT_TRUE(env.dialogs().shown.empty());
}

TEST_F(MySqlSide, RenameToTheSameNameDoesNothingAndSaysNothing) {
  admin("CREATE TABLE Orders (id INT)");
  relist();
  selectOnly(list(), {"Orders"});
  env.dialogs().textAnswers = {"Orders"};
  form().PushButton6->click();
  EXPECT_TRUE(env.dialogs().messages().empty());
  EXPECT_EQ(entries(list()), QStringList{"Orders"});
  EXPECT_EQ(serverTables(), QStringList{"Orders"});
}

TEST_F(MySqlSide, ARenameWhoseListingFailsSaysWhatHappenedAndListsTheServer) {
  // An account allowed the statements its connection starts with and one more an hour: the
  // rename goes through, the listing after it on the same connection is refused by the server.
  long long atConnect = 0;
  {
    ado::Connection cn;
    cn.setCursorLocation(ado::adUseClient);
    cn.open(connectionString());
    ado::RecordSet rs(cn.execute("SHOW SESSION STATUS LIKE 'Questions'"));
    atConnect = std::stoll(rs.value(1).toText()) - 1;  // the SHOW itself counts
  }
  const std::string user = "qmlim" + std::to_string(::getpid());
  admin("DROP USER IF EXISTS '" + user + "'@'%'");
  admin("CREATE USER '" + user + "'@'%' IDENTIFIED BY 'pw' WITH MAX_QUERIES_PER_HOUR " +
        std::to_string(atConnect + 1));
  admin("GRANT ALL ON `" + database() + "`.* TO '" + user + "'@'%'");
  admin("CREATE TABLE Orders (id INT)");
  admin("CREATE TABLE other (id INT)");
  relist();
  selectOnly(list(), {"Orders"});
  admin("FLUSH USER_RESOURCES");
  env.app().connectionFields = [this, user] {
    platform::ConnectionFields f = adminFields();
    f.user = QString::fromStdString(user);
    f.password = "pw";
    return f;
  };
  // While the user reads the report the hour's allowance is renewed, so the listing after it
  // can read the server.
  env.dialogs().whileMessageShown = [this](const QString&) { admin("FLUSH USER_RESOURCES"); };
  env.dialogs().textAnswers = {"renamed"};
  form().PushButton6->click();
  admin("DROP USER '" + user + "'@'%'");

  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].caption, "Application Error");
  EXPECT_TRUE(
      shown[0].text.startsWith("Orders was renamed to renamed, but the tables could not "
                               "be listed afterwards: "))
      << shown[0].text.toStdString();
  EXPECT_TRUE(shown[0].text.contains("max_queries_per_hour")) << shown[0].text.toStdString();
  EXPECT_EQ(entries(list()), (QStringList{"other", "renamed"}));
  EXPECT_EQ(form().pointer().state(), platform::WindowPointer::State::Normal);
}

TEST_F(MySqlSide, DeletingATableAnotherSessionHoldsEndsWithinTheLimitWithTheServersMessage) {
  admin("CREATE TABLE held (id INT)");
  admin("CREATE TABLE free1 (id INT)");
  relist();
  const HeldTable hold(connectionString());
  selectOnly(list(), {"free1", "held"});
  auto start = std::chrono::steady_clock::now();
  form().PushButton1->click();
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Without a limit the DROP would wait for the server's own, a year; the bound here only
  // catches that hang, far above the 2 s limit set.
  EXPECT_LT(waited, 60.0);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains("Lock wait timeout")) << shown[0].text.toStdString();
  EXPECT_EQ(entries(list()), QStringList{"held"});
  EXPECT_EQ(serverTables(), QStringList{"held"});
}

TEST_F(MySqlSide, TheWindowAnswersWhileADropWaitsAndAPressMeanwhileIsRefused) {
  admin("CREATE TABLE held (id INT)");
  relist();
  const HeldTable hold(connectionString());
  selectOnly(list(), {"held"});
  // Ticks count while the drop waits on the server; one of them presses "Rename".
  int ticks = 0;
  QString barWhileWaiting;
  QTimer timer;
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 10) {
      form().PushButton6->click();
      barWhileWaiting = form().ProgressBar1->format();
    }
  });
  timer.start();
  form().PushButton1->click();
  timer.stop();
  // Two seconds of lock wait: about 40 ticks when the window answers, none when it freezes.
  EXPECT_GE(ticks, 15);
  EXPECT_EQ(barWhileWaiting, "Busy: deleting 1 of 1");
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);  // the drop's refusal only; the rename never started
  EXPECT_TRUE(shown[0].text.contains("Lock wait timeout")) << shown[0].text.toStdString();
  EXPECT_EQ(entries(list()), QStringList{"held"});
}

TEST_F(MySqlSide, ClosingTheWindowWhileADropWaitsEndsItAtOnceWithoutAWord) {
  admin("CREATE TABLE held (id INT)");
  relist();
  const HeldTable hold(connectionString());
  selectOnly(list(), {"held"});
  int ticks = 0;
  QTimer timer;
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 5) form().close();
  });
  timer.start();
  auto start = std::chrono::steady_clock::now();
  form().PushButton1->click();
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  timer.stop();
  EXPECT_EQ(env.endRequests, 1);
  EXPECT_LT(took, 1.5);  // the server would have waited two seconds
  EXPECT_TRUE(env.dialogs().messages().empty());
  EXPECT_EQ(entries(list()), QStringList{"held"});
  EXPECT_EQ(serverTables(), QStringList{"held"});
}

namespace {

// The same window on a server that folds table names to lower case (lower_case_table_names=1,
// as on Windows and macOS).
class MySqlSideFoldingNames : public MySqlSide {
 protected:
  const char* sandboxVariable() const override { return qmtest::kLowerCaseSandboxVariable; }
};

}  // namespace

TEST_F(MySqlSideFoldingNames, RenameShowsTheNameTheServerFoldedItTo) {
  ASSERT_EQ(databaseTables(connectionString(), "SELECT @@lower_case_table_names")[0], "1");
  admin("CREATE TABLE orders (id INT)");
  relist();
  selectOnly(list(), {"orders"});
  env.dialogs().textAnswers = {"Archive2021"};
  form().PushButton6->click();
  EXPECT_EQ(entries(list()), QStringList{"archive2021"});
  EXPECT_EQ(serverTables(), QStringList{"archive2021"});
  EXPECT_TRUE(env.dialogs().messages().empty());
}
