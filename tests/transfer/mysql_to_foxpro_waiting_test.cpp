// "Send Table/s To FoxPro" while the MySQL server keeps the source waiting (another session
// holds the table, or a server takes the connection and never answers): the window answers, the
// server's own message reaches the report or the error report, and a program that ends meanwhile
// stops at once without a word.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <chrono>

#include "ado/dataaccess.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "support/main_window_parts.h"
#include "support/mute_server.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"
#include "transfer/mysql_to_foxpro.h"

using testing_support::UiTestEnvironment;

namespace {

class SendToFoxproWaits : public qmtest::MySqlDatabaseTest, protected qmtest::MainWindowParts {
 protected:
  QTemporaryDir fox;
  platform::ConnectionFields fields;
  ado::Limits saved = ado::DefaultLimits();
  ado::Connection other;  // the session that holds the table

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fields = adminFields();
    fields.useDbcFile = false;
    fields.freeTableFolder = fox.path();
    env.app().connectionFields = [this] { return fields; };
    admin("CREATE TABLE held (id INT)");
    admin("INSERT INTO held VALUES (1)");
    List1.addItem("held");
    List1.item(0)->setSelected(true);
    other.open(connectionString());
    other.execute("LOCK TABLES held WRITE");
    ado::DefaultLimits().lockWaitSeconds = 2;
  }
  void TearDown() override {
    ado::DefaultLimits() = saved;
    if (other.state() == ado::adStateOpen) other.execute("UNLOCK TABLES");
    qmtest::MySqlDatabaseTest::TearDown();
  }
};

}  // namespace

TEST_F(SendToFoxproWaits, TheWindowAnswersUntilTheServerGivesUpAndItsMessageIsReported) {
  int ticks = 0;
  QTimer timer;
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  QString report;
  env.dialogs().modalScripts.push_back([&](QDialog& d) {
    report = dynamic_cast<Form4&>(d).Text1->toPlainText();
    return 0;  // closed unexecuted
  });
  timer.start();
  transfer::SendTablesToFoxpro(view);
  timer.stop();
  // Two seconds of lock wait: about 40 ticks when the window answers, none when it freezes.
  EXPECT_GE(ticks, 15);
  EXPECT_TRUE(report.contains("Lock wait timeout exceeded")) << report.toStdString();
  EXPECT_TRUE(env.dialogs().messages().empty());
}

TEST_F(SendToFoxproWaits, AProgramEndingWhileTheServerWaitsStopsAtOnceWithoutAWord) {
  int ticks = 0;
  QTimer timer;
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 5) env.app().quit();
  });
  int previews = 0;
  env.dialogs().modalScripts.push_back([&](QDialog&) {
    ++previews;
    return 0;
  });
  auto start = std::chrono::steady_clock::now();
  timer.start();
  transfer::SendTablesToFoxpro(view);
  timer.stop();
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(env.endRequests, 1);
  EXPECT_LT(took, 1.5);  // the lock wait is two seconds
  EXPECT_EQ(previews, 0);
  for (const auto& m : env.dialogs().messages()) ADD_FAILURE() << m.text.toStdString();
}

TEST_F(SendToFoxproWaits, AServerThatNeverAnswersIsGivenUpAfterTheConnectLimit) {
  // The source connection reads with a long command limit; connecting is bounded like any other.
  qmtest::MuteServer mute;
  fields.port = QString::fromStdString(mute.port());
  ado::DefaultLimits().connectSeconds = 1;
  int ticks = 0;
  QTimer timer;
  timer.setInterval(50);
  // A watchdog, not a measure: a wait that is not bounded is ended by the program's end.
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 400) env.app().quit();
  });
  timer.start();
  transfer::SendTablesToFoxpro(view);
  timer.stop();
  EXPECT_EQ(env.endRequests, 0) << "still connecting after 20 s";
  ASSERT_FALSE(env.dialogs().messages().empty());
  EXPECT_TRUE(env.dialogs().messages().front().text.contains("Lost connection"))
      << env.dialogs().messages().front().text.toStdString();
}
