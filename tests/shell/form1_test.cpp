// The connection window on the offscreen platform with scripted dialogs: start-up, persisted
// fields, messages, pointer feedback, "Next >" and closing.
#include "shell/form1.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include "core/connection_strings.h"
#include "core/settings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "support/scripted_dialogs.h"

using platform::Settings::value;
using State = platform::WindowPointer::State;
using testing_support::UiTestEnvironment;

namespace {

class ConnectionWindow : public ::testing::Test {
 protected:
  UiTestEnvironment env;
  Form1& form() { return env.app().window<Form1>(); }
};

void moveMouse(QWidget* w, QPoint at = {2, 2}) {
  QMouseEvent e(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton,
                Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

TEST_F(ConnectionWindow, FirstStartShowsDefaultsStoresThemAndSaysNothing) {
  // The application object starts with the product name as its title; the start-up must set it.
  env.app().setTitle("not set yet");
  form().start();
  Form1& f = form();
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.movedToMainWindow());
  EXPECT_TRUE(f.Option1->isChecked());
  EXPECT_EQ(f.Text1->text(), "");
  EXPECT_EQ(f.Text2->text(), "");
  EXPECT_EQ(f.Text3->text(), "localhost");
  EXPECT_EQ(f.Text4->text(), "3306");
  EXPECT_EQ(f.Text5->text() + f.Text6->text() + f.Text7->text(), "");
  EXPECT_EQ(f.windowTitle(), "Quillmere");
  EXPECT_EQ(env.app().title(), "Quillmere");
  EXPECT_TRUE(env.dialogs().shown.empty());

  // Defaults written back; empty fields not.
  EXPECT_EQ(value("MySQLServer"), "localhost");
  EXPECT_EQ(value("MySQLPort"), "3306");
  EXPECT_FALSE(platform::Settings::contains("MySQLUser"));
  EXPECT_FALSE(platform::Settings::contains("DBCFile"));
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(platform::Settings::fileName()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ConnectionWindow, StoredValuesComeBackAsStored) {
  platform::Settings::setValue("DBCFile", "/data/shop.dbc");
  platform::Settings::setValue("FreeTableFolder", "C:\\free\\");
  platform::Settings::setValue("FoxproOption", "2");
  platform::Settings::setValue("MySQLServer", "");  // no connection attempt at all
  platform::Settings::setValue("MySQLPort", "abc");
  platform::Settings::setValue("MySQLOptions", "SSLMODE=VERIFY_IDENTITY;SSLCA=/etc/ca.pem");
  platform::Settings::setValue("MySQLUser", " bob ");
  platform::Settings::setValue("MySQLPassword", "p;ss");
  platform::Settings::setValue("MySQLDatabase", "shop");
  platform::Settings::setValue("FoxproCodePage", "866");
  form().start();
  Form1& f = form();
  EXPECT_EQ(f.Text1->text(), "/data/shop.dbc");
  EXPECT_EQ(f.Text2->text(), "C:\\free\\");
  EXPECT_TRUE(f.Option2->isChecked());
  EXPECT_EQ(f.Text3->text(), "");
  EXPECT_EQ(f.Text4->text(), "abc");
  EXPECT_EQ(f.Text5->text(), " bob ");
  EXPECT_EQ(f.Text6->text(), "p;ss");
  EXPECT_EQ(f.Text7->text(), "shop");
  EXPECT_EQ(value("MySQLServer", "x"), "");
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(env.dialogs().shown.empty());

  platform::ConnectionFields now = env.app().connectionFields();
  EXPECT_FALSE(now.useDbcFile);
  EXPECT_EQ(now.freeTableFolder, "C:\\free\\");
  EXPECT_EQ(now.password, "p;ss");
  EXPECT_EQ(UnmarkedFoxproCodePage(), 866);  // for tables whose header names none
  EXPECT_TRUE(MySQLConnectionString().ends_with(
      "PASSWORD={p;ss};SSLMODE=VERIFY_IDENTITY;SSLCA=/etc/ca.pem;"))
      << MySQLConnectionString();
}

TEST_F(ConnectionWindow, AnEmptyServerBoxMakesNoConnectionAttemptAtStartUp) {
  // Both sides would be tried if the start-up tried: the FoxPro folder exists, and an empty
  // server means this machine, where a listener waits on the stored port.
  QTemporaryDir folder;
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  platform::Settings::setValue("FoxproOption", "2");
  platform::Settings::setValue("FreeTableFolder", folder.path());
  platform::Settings::setValue("MySQLServer", "");
  platform::Settings::setValue("MySQLPort", QString::number(ntohs(address.sin_port)));
  form().start();
  pollfd waiting{listener, POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 200), 0) << "the start-up tried to connect";
  ::close(listener);
  EXPECT_TRUE(form().isVisible());
  EXPECT_FALSE(form().movedToMainWindow());
}

TEST(ConnectionWindowOption, OnlyTwoSelectsTheFolder) {
  for (const char* stored : {"1", "0", "x", "2", ""}) {
    UiTestEnvironment env;
    if (*stored) platform::Settings::setValue("FoxproOption", stored);
    Form1& f = env.app().window<Form1>();
    f.start();
    bool folder = QByteArray(stored) == "2";
    EXPECT_EQ(f.Option2->isChecked(), folder) << stored;
    EXPECT_EQ(f.Option1->isChecked(), !folder) << stored;
  }
}

TEST_F(ConnectionWindow, EveryChangeIsStoredAtOnceAndThePasswordShowsStars) {
  form().start();
  Form1& f = form();
  f.Text6->insert("s3;c{r}et");
  EXPECT_EQ(value("MySQLPassword"), "s3;c{r}et");
  EXPECT_EQ(f.Text6->displayText(), "*********");
  EXPECT_EQ(f.Text6->echoMode(), QLineEdit::Password);

  f.Text1->setText("/a/b.dbc");
  f.Text2->setText("/a/");
  f.Text3->setText("db.example");
  f.Text4->setText("");
  f.Text5->setText("bob");
  f.Text7->setText("shop");
  EXPECT_EQ(value("DBCFile"), "/a/b.dbc");
  EXPECT_EQ(value("FreeTableFolder"), "/a/");
  EXPECT_EQ(value("MySQLServer"), "db.example");
  EXPECT_EQ(value("MySQLPort", "x"), "");
  EXPECT_EQ(value("MySQLUser"), "bob");
  EXPECT_EQ(value("MySQLDatabase"), "shop");

  f.Option2->click();
  EXPECT_EQ(value("FoxproOption"), "2");
  f.Option1->click();
  EXPECT_EQ(value("FoxproOption"), "1");
  EXPECT_EQ(FoxproConnectionString(),
            "Provider=vfpoledb.1;Data Source=/a/b.dbc;Collating Sequence=machine;");
  f.Option2->click();
  EXPECT_EQ(FoxproConnectionString(),
            "Provider=vfpoledb.1;Data Source=/a/;Collating Sequence=general;");
  EXPECT_EQ(MySQLConnectionString(),
            "DRIVER={MySQL ODBC 5.1 Driver};SERVER=db.example;PORT=;USER=bob;DATABASE=shop;"
            "PASSWORD={s3;c{r}}et};");
}

TEST_F(ConnectionWindow, FocusSelectsTheWholeText) {
  form().start();
  for (QLineEdit* box : {form().Text1, form().Text3, form().Text4, form().Text6}) {
    box->setText("some text");
    box->deselect();
    QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(box, &in);
    EXPECT_EQ(box->selectionStart(), 0);
    EXPECT_EQ(box->selectionLength(), 9);
  }
}

TEST_F(ConnectionWindow, TestAndHelpButtonsShowTheirExactMessages) {
  form().start();
  Form1& f = form();
  // "DBC File:" with an empty path: the string has an empty Data Source and the open fails.
  f.PushButton3->click();
  f.Text4->setText("abc");
  f.PushButton6->click();
  f.PushButton10->click();
  f.PushButton1->click();

  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 4u);
  for (const auto& s : shown) {
    EXPECT_EQ(s.caption, "Quillmere");
    EXPECT_EQ(s.style, platform::vbOKOnly);
  }
  EXPECT_EQ(shown[0].text, "Could not connect.");
  EXPECT_EQ(shown[1].text,
            "Could not connect. Please check with your administrator. Make sure you are allowed "
            "to connect to your database remotely and not just through web-based control panels.");
  // The second paragraph says how to name the code page of tables whose header names none.
  EXPECT_TRUE(shown[2].text.startsWith(
      "Make sure FoxPro is closed while using this application.\r\rTables whose header names no "
      "code page"));
  EXPECT_TRUE(
      shown[2].text.endsWith("settings file (~/.config/Tarnwick/Quillmere.conf), with the "
                             "code page's number:\rFoxproCodePage=866"));
  const QString& help = shown[3].text;
  EXPECT_EQ(help.count(QLatin1Char('\r')), 9);
  EXPECT_EQ(help.count(QLatin1Char('\n')), 0);
  EXPECT_EQ(help,
            "If you cannot establish connection to your database with this program, please go "
            "to: \r\rhttps://dev.mysql.com/downloads/workbench/\r\rDownload and install the MySQL "
            "Workbench. Try to connect to the same database (with the same login information you "
            "are using here). This will determine if the login you are using is correct.\r\r"
            "Finally, make sure your host allows a direct connection to your MySQL database -- not "
            "a web based connection, for example.\r\rThe connection is encrypted (TLS) whenever "
            "the server offers it. To require a verified server certificate, add this line to the "
            "[Quillmere] section of the settings file (~/.config/Tarnwick/Quillmere.conf), naming "
            "the certificate of the authority that signed the server's (without SSLCA the "
            "system's authorities are trusted):\r"
            "MySQLOptions=\"SSLMODE=VERIFY_IDENTITY;SSLCA=/path/to/ca.pem\"");
  EXPECT_EQ(f.pointer().state(), State::Normal);
}

TEST_F(ConnectionWindow, NextWithAFailingFoxproSideStaysSilentAndHandsNothingOn) {
  int handedOn = 0;
  env.app().mainWindow.fillFoxproList = [&](const std::string&) { ++handedOn; };
  env.app().mainWindow.fillMySqlList = [&] { ++handedOn; };
  env.app().mainWindow.show = [&] { ++handedOn; };
  form().start();
  form().PushButton2->click();
  EXPECT_EQ(handedOn, 0);
  EXPECT_TRUE(env.dialogs().shown.empty());
  EXPECT_TRUE(form().isVisible());
  EXPECT_EQ(form().pointer().state(), State::Normal);
}

TEST_F(ConnectionWindow, PointerShowsTheHandOverButtonsButKeepsTheHourglass) {
  QFile::copy(QStringLiteral(QM_SOURCE_DIR "/resources/HAND-M.CUR"),
              env.programFolder().filePath("HAND-M.CUR"));
  form().start();
  Form1& f = form();
  EXPECT_TRUE(f.pointer().hasCustomImage());
  moveMouse(f.PushButton2);
  EXPECT_EQ(f.pointer().state(), State::Custom);
  EXPECT_EQ(f.cursor().shape(), Qt::BitmapCursor);
  moveMouse(f.Text3);  // the server box changes nothing
  EXPECT_EQ(f.pointer().state(), State::Custom);
  moveMouse(f.Frame2, {3, f.Frame2->height() - 3});
  EXPECT_EQ(f.pointer().state(), State::Normal);

  f.pointer().setWait();
  moveMouse(f.PushButton6);
  moveMouse(f.Text5);
  moveMouse(&f, {1, f.height() - 1});
  EXPECT_EQ(f.pointer().state(), State::Wait);
  moveMouse(f.Text4);  // the port box is the one exception
  EXPECT_EQ(f.pointer().state(), State::Normal);
}

TEST_F(ConnectionWindow, StartUpReportsAFailingStepAndGoesOn) {
  writeFile(env.programFolder().filePath("HAND-M.CUR"), "not a cursor");
  env.desktop().nextRandom = 0.0612;  // draws 7: the maker's site opens
  form().start();
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Application Error");
  EXPECT_EQ(shown[0].style, platform::vbOKOnly | platform::vbExclamation);
  EXPECT_EQ(shown[0].text,
            "Invalid picture\r\nin Dovrant2021/08/31.Form1.Form_Load at line 108\r\r"
            "Please email screenshot of this message to support@tarnwick.example");
  // The steps after the failing one still ran.
  EXPECT_EQ(form().Text3->text(), "localhost");
  EXPECT_TRUE(form().isVisible());
  EXPECT_FALSE(form().pointer().hasCustomImage());
  ASSERT_EQ(env.desktop().openedUrls.size(), 1u);
  EXPECT_EQ(env.desktop().openedUrls[0], "https://www.tarnwick.example/");
}

TEST_F(ConnectionWindow, LooksAsDesignedWithoutTheSkin) {
  form().start();
  Form1& f = form();
  EXPECT_EQ(f.size(), QSize(platform::TwipsToPixels(8040), platform::TwipsToPixels(5565)));
  EXPECT_EQ(f.minimumSize(), f.maximumSize());
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(f.PushButton2->geometry(), platform::TwipsRect(120, 5040, 7800, 405));
  EXPECT_EQ(f.Text4->geometry(), platform::TwipsRect(6480, 360, 1095, 345));
  EXPECT_EQ(f.PushButton2->text(), "Next >");
  EXPECT_DOUBLE_EQ(f.PushButton2->font().pointSizeF(), 11.25);
  EXPECT_TRUE(f.Text3->font().bold());
  EXPECT_EQ(platform::Background(f), QColor(Qt::white));
  EXPECT_EQ(platform::Background(*f.Frame1), QColor(Qt::white));
  EXPECT_EQ(platform::Background(*f.Option2), QColor(Qt::white));
  // Captions are not cut off, and an option never reaches into its text box.
  EXPECT_GE(f.Option2->width(), f.Option2->sizeHint().width());
  EXPECT_LT(f.Option2->geometry().right(), f.Text2->x());
  // Tab order: the FoxPro side, then the MySQL side, then "Next >".
  EXPECT_EQ(f.Text1->nextInFocusChain(), f.PushButton5);
  EXPECT_EQ(f.PushButton10->nextInFocusChain(), f.Text3);
  EXPECT_EQ(f.PushButton1->nextInFocusChain(), f.PushButton2);
}

TEST(ConnectionWindowSkin, TheSkinFileTurnsTheWindowButtonFace) {
  UiTestEnvironment env;
  ASSERT_TRUE(env.programFolder().mkpath("x"));
  writeFile(env.programFolder().filePath("x/o.cjs"), "QLineEdit { border: 1px solid gray; }");
  Form1& f = env.app().window<Form1>();
  f.start();
  EXPECT_EQ(platform::Background(f), platform::ButtonFaceColour());
  EXPECT_EQ(platform::Background(*f.Option1), platform::ButtonFaceColour());
  EXPECT_EQ(platform::Background(*f.Label3), platform::ButtonFaceColour());
  EXPECT_EQ(f.styleSheet(), "QLineEdit { border: 1px solid gray; }");
}

TEST_F(ConnectionWindow, ClosingEndsTheProgram) {
  form().start();
  form().close();
  EXPECT_EQ(env.endRequests, 1);
  EXPECT_TRUE(env.app().ending());
}

TEST_F(ConnectionWindow, PickersFillTheBoxesAndCancelChangesNothing) {
  form().start();
  Form1& f = form();
  f.Text2->setText("/before/");
  f.PushButton4->click();  // cancelled
  env.dialogs().textAnswers = {"/picked/folder", "/picked/shop.dbc"};
  f.Option2->click();
  f.PushButton4->click();
  f.PushButton5->click();
  EXPECT_EQ(f.Text2->text(), "/picked/folder");
  EXPECT_EQ(value("FreeTableFolder"), "/picked/folder");
  EXPECT_EQ(f.Text1->text(), "/picked/shop.dbc");
  EXPECT_EQ(value("DBCFile"), "/picked/shop.dbc");
  EXPECT_TRUE(f.Option2->isChecked());  // picking a file does not change the source choice
  f.PushButton5->click();               // cancelled: the picked file stays
  EXPECT_EQ(f.Text1->text(), "/picked/shop.dbc");
  EXPECT_EQ(value("DBCFile"), "/picked/shop.dbc");

  const auto& shown = env.dialogs().shown;
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text, "Please select folder:");
  EXPECT_EQ(shown[1].start, "");  // starts at the default place each time
  EXPECT_EQ(shown[2].caption, "Select Foxpro Database");
  EXPECT_EQ(shown[2].filter, "Microsoft Database (*.dbc)|*.dbc|");
}
