// The connection window against the private MariaDB: "Test Connection" on the
// MySQL side succeeds with the sandbox's login and fails, with the one long
// message, every other way.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <vector>

#include "ado/dataaccess.h"
#include "core/settings.h"
#include "platform/dialogs.h"
#include "platform/pointer.h"
#include "shell/connection_tests.h"
#include "shell/form1.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"

using testing_support::UiTestEnvironment;

namespace {

class ConnectionWindowLive : public qmtest::MySqlDatabaseTest {
 protected:
  UiTestEnvironment env;

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Form1& f = form();
    f.start();
    f.Text3->setText(QString::fromStdString(sandbox().host));
    f.Text4->setText(QString::fromStdString(sandbox().port));
    f.Text5->setText(QString::fromStdString(sandbox().adminUser));
    f.Text6->setText(QString::fromStdString(sandbox().adminPassword));
    f.Text7->setText(QString::fromStdString(database()));
    env.dialogs().shown.clear();
  }

  Form1& form() { return env.app().window<Form1>(); }

  QString testMySql() {
    size_t before = env.dialogs().shown.size();
    form().PushButton6->click();
    auto shown = env.dialogs().messages();
    EXPECT_EQ(env.dialogs().shown.size(), before + 1);
    EXPECT_EQ(form().pointer().state(), platform::WindowPointer::State::Normal);
    return shown.empty() ? QString() : shown.back().text;
  }
};

const char* kLongMessage =
    "Could not connect. Please check with your "
    "administrator. Make sure you are allowed to "
    "connect to your database remotely and not just "
    "through web-based control panels.";

}  // namespace

TEST_F(ConnectionWindowLive, TestConnectionSucceedsAndFailsEachWayWithOneMessage) {
  Form1& f = form();
  EXPECT_EQ(testMySql(), "Connection successful.");
  EXPECT_TRUE(Foxpro::CanConnectMySQL());

  f.Text6->setText("wrong password");
  EXPECT_EQ(testMySql(), kLongMessage);
  EXPECT_FALSE(Foxpro::CanConnectMySQL());
  f.Text6->setText(QString::fromStdString(sandbox().adminPassword));

  f.Text4->setText("abc");
  EXPECT_EQ(testMySql(), kLongMessage);
  f.Text4->setText("1");  // nothing listens there
  EXPECT_EQ(testMySql(), kLongMessage);
  f.Text4->setText(QString::fromStdString(sandbox().port));

  f.Text3->setText("no-such-host.invalid");
  EXPECT_EQ(testMySql(), kLongMessage);
  f.Text3->setText(QString::fromStdString(sandbox().host));

  f.Text7->setText("no_such_database_here");
  EXPECT_EQ(testMySql(), kLongMessage);
}

TEST_F(ConnectionWindowLive, TheWindowAnswersWhileAHostThatNeverGreetsIsTriedAndPressesWait) {
  // A port that takes the connection and never says a word: the test waits for the connect
  // limit, and the window answers meanwhile.
  int mute = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(mute, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(mute, 4), 0);
  ASSERT_EQ(::getsockname(mute, reinterpret_cast<sockaddr*>(&address), &size), 0);
  Form1& f = form();
  f.Text3->setText("127.0.0.1");
  f.Text4->setText(QString::number(ntohs(address.sin_port)));
  ado::Limits saved = ado::DefaultLimits();
  ado::DefaultLimits().connectSeconds = 2;
  int ticks = 0;
  QTimer timer;
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 5) {
      f.PushButton6->click();  // a second test (a second message), and "Next >", wait
      f.PushButton2->click();
    }
  });
  timer.start();
  EXPECT_EQ(testMySql(), kLongMessage);  // exactly one message
  timer.stop();
  ado::DefaultLimits() = saved;
  ::close(mute);
  EXPECT_GE(ticks, 15);  // about 40 in two seconds; none when the window freezes
}

TEST_F(ConnectionWindowLive, APasswordWithSemicolonAndBracesConnects) {
  admin("DROP USER IF EXISTS 'semi;colon'@'%'");
  admin("CREATE USER 'semi;colon'@'%' IDENTIFIED BY '{pa;ss}}word'");
  admin("GRANT ALL ON `" + database() + "`.* TO 'semi;colon'@'%'");
  Form1& f = form();
  f.Text5->setText("semi;colon");
  f.Text6->setText("{pa;ss}}word");
  EXPECT_EQ(testMySql(), "Connection successful.");
  f.Text6->setText("{pa;ss}word");
  EXPECT_EQ(testMySql(), kLongMessage);
  admin("DROP USER 'semi;colon'@'%'");
}

TEST_F(ConnectionWindowLive, FoxproTestFollowsTheSelectedSource) {
  QTemporaryDir folder;
  Form1& f = form();
  f.Text2->setText(folder.path());
  // "DBC File:" selected with only the folder filled: the empty path is used and fails.
  f.PushButton3->click();
  f.Option2->click();
  f.PushButton3->click();
  f.Option1->click();
  f.Text1->setText(QStringLiteral(QM_FIXTURES_DIR "/VFPX__Samples/Data/testdata.dbc"));
  f.PushButton3->click();
  f.Text1->setText(folder.filePath("missing.dbc"));
  f.PushButton3->click();
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text, "Could not connect.");
  EXPECT_EQ(shown[1].text, "Connection successful.");
  EXPECT_EQ(shown[2].text, "Connection successful.");
  EXPECT_EQ(shown[3].text, "Could not connect.");
}

namespace {

// Records what "Next >" handed on to the main window, in order.
struct MainWindowProbe {
  std::vector<std::string> calls;
  void wire(platform::Application& app) {
    app.mainWindow.fillFoxproList = [this](const std::string& cs) {
      calls.push_back("foxpro " + cs);
    };
    app.mainWindow.fillMySqlList = [this] { calls.push_back("mysql"); };
    app.mainWindow.show = [this] { calls.push_back("show"); };
  }
};

}  // namespace

TEST_F(ConnectionWindowLive, NextHandsOnOnlyWhenBothSidesOpen) {
  QTemporaryDir folder;
  MainWindowProbe probe;
  probe.wire(env.app());
  Form1& f = form();
  f.Option2->click();
  f.Text2->setText(folder.path());

  f.Text6->setText("wrong");
  f.PushButton2->click();  // the MySQL side fails: silent, nothing handed on
  EXPECT_TRUE(probe.calls.empty());
  EXPECT_TRUE(f.isVisible());

  f.Text6->setText(QString::fromStdString(sandbox().adminPassword));
  f.PushButton2->click();
  EXPECT_EQ(probe.calls, (std::vector<std::string>{"foxpro Provider=vfpoledb.1;Data Source=" +
                                                       folder.path().toStdString() +
                                                       ";Collating Sequence=general;",
                                                   "mysql", "show"}));
  EXPECT_FALSE(f.isVisible());
  EXPECT_TRUE(f.movedToMainWindow());
  EXPECT_EQ(f.pointer().state(), platform::WindowPointer::State::Normal);
  EXPECT_TRUE(env.dialogs().shown.empty());
}

TEST_F(ConnectionWindowLive, ASecondNextWhileTheFirstListsStartsNothing) {
  QTemporaryDir folder;
  MainWindowProbe probe;
  probe.wire(env.app());
  Form1& f = form();
  f.Option2->click();
  f.Text2->setText(folder.path());
  // The listings yield to window events: the user presses "Next >" again meanwhile.
  auto fill = env.app().mainWindow.fillFoxproList;
  bool pressedAgain = false;
  env.app().mainWindow.fillFoxproList = [&](const std::string& cs) {
    fill(cs);
    if (pressedAgain) return;
    pressedAgain = true;
    f.PushButton2->click();
  };
  f.PushButton2->click();
  ASSERT_EQ(probe.calls.size(), 3u);
  EXPECT_EQ(probe.calls[1], "mysql");
  EXPECT_EQ(probe.calls[2], "show");
  EXPECT_TRUE(f.movedToMainWindow());

  // Once the first has ended, "Next >" works again.
  f.PushButton2->click();
  EXPECT_EQ(probe.calls.size(), 6u);
  EXPECT_TRUE(pressedAgain);
}

TEST(ConnectionWindowStartUp, AReturningUserLandsInTheMainWindowOnlyWhenBothSidesConnect) {
  auto sandbox = qmtest::findMySqlSandbox();
  if (!sandbox) {
    if (qmtest::mysqlOptional()) GTEST_SKIP() << "no MySQL sandbox";
    FAIL() << "no MySQL sandbox running (scripts/mysql-sandbox start)";
  }
  QTemporaryDir folder;
  for (bool goodPassword : {true, false}) {
    UiTestEnvironment env;
    MainWindowProbe probe;
    probe.wire(env.app());
    platform::Settings::setValue("FoxproOption", "2");
    platform::Settings::setValue("FreeTableFolder", folder.path());
    platform::Settings::setValue("MySQLServer", QString::fromStdString(sandbox->host));
    platform::Settings::setValue("MySQLPort", QString::fromStdString(sandbox->port));
    platform::Settings::setValue("MySQLUser", QString::fromStdString(sandbox->user));
    platform::Settings::setValue(
        "MySQLPassword", goodPassword ? QString::fromStdString(sandbox->password) : "wrong");
    platform::Settings::setValue("MySQLDatabase", QString::fromStdString(sandbox->database));
    Form1& f = env.app().window<Form1>();
    f.start();
    EXPECT_EQ(probe.calls.size(), goodPassword ? 3u : 0u);
    EXPECT_EQ(f.isVisible(), !goodPassword);
    EXPECT_TRUE(env.dialogs().shown.empty());
  }
}
