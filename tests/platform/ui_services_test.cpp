// The platform services windows share: the error trap, the settings store, the pointer, the
// twips helper and the dialog plumbing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QWidget>

#include "core/settings.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "support/scripted_dialogs.h"

using namespace platform;
using testing_support::UiTestEnvironment;

namespace {

class PlatformUi : public ::testing::Test {
 protected:
  UiTestEnvironment env;
};

void moveMouse(QWidget* w, QPoint at = {1, 1}) {
  QMouseEvent e(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton,
                Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

}  // namespace

TEST_F(PlatformUi, ErrorReportHasTheExactTextAndTheHandlerGoesOnAfterAFailingStep) {
  std::vector<int> ran;
  ErrorTrap trap("Form4", "PushButton3_Click");
  EXPECT_TRUE(trap.step(100, [&] { ran.push_back(100); }));
  EXPECT_FALSE(trap.step(102, [&] {
    ran.push_back(102);
    throw std::runtime_error("Table 'shop.x' doesn't exist");
  }));
  EXPECT_TRUE(trap.step(104, [&] { ran.push_back(104); }));
  EXPECT_FALSE(trap.step(106, [&] { throw 42; }));
  EXPECT_EQ(ran, (std::vector<int>{100, 102, 104}));
  EXPECT_EQ(trap.failures(), 2);

  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text,
            "Table 'shop.x' doesn't exist\r\nin Dovrant2021/08/31.Form4.PushButton3_Click at line "
            "102\r\rPlease email screenshot of this message to support@tarnwick.example");
  EXPECT_EQ(shown[0].caption, "Application Error");
  EXPECT_EQ(shown[0].style, vbOKOnly | vbExclamation);
  EXPECT_TRUE(shown[1].text.contains("at line 106\r\r"));
  EXPECT_TRUE(shown[1].text.startsWith("Unknown error\r\n"));
}

TEST_F(PlatformUi, MessageBoxWithoutCaptionTakesTheApplicationTitle) {
  env.app().setTitle("Short");
  MsgBox("Connection successful.");
  env.dialogs().messageAnswers = {vbYes, vbNo};
  EXPECT_EQ(MsgBox("Overwrite?", vbYesNo, "Own"), vbYes);
  EXPECT_EQ(MsgBox("Overwrite?", vbYesNo), vbNo);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].caption, "Short");
  EXPECT_EQ(shown[0].style, vbOKOnly);
  EXPECT_EQ(shown[1].caption, "Own");
  // An input box cancelled answers empty text.
  EXPECT_EQ(InputBox("New name:"), "");
  env.dialogs().textAnswers.push_back("orders2");
  EXPECT_EQ(InputBox("New name:"), "orders2");
}

TEST_F(PlatformUi, SettingsRoundTripTextAndKeepTheFileOwnerOnly) {
  mode_t old = umask(022);
  EXPECT_EQ(Settings::value("MySQLServer", "localhost"), "localhost");
  EXPECT_FALSE(Settings::contains("MySQLServer"));
  Settings::setValue("MySQLPassword", "p;a{ss} wörd");
  Settings::setValue("MySQLPort", "");
  umask(old);
  EXPECT_EQ(Settings::value("MySQLPassword"), "p;a{ss} wörd");
  EXPECT_TRUE(Settings::contains("MySQLPort"));
  EXPECT_EQ(Settings::value("MySQLPort", "3306"), "");

  QString file = Settings::fileName();
  ASSERT_TRUE(file.startsWith(env.settingsFolder())) << file.toStdString();
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(file).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Stored under application "Tarnwick", section "Quillmere", as text.
  QSettings raw(file, QSettings::IniFormat);
  EXPECT_EQ(raw.value("Quillmere/MySQLPassword").toString(), "p;a{ss} wörd");

  // A file left readable by others is tightened at the next write.
  QFile(file).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadOther);
  Settings::setValue("MySQLUser", "bob");
  ASSERT_EQ(stat(QFile::encodeName(file).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PlatformUi, PointerFollowsTheHoverRulesAndKeepsTheHourglass) {
  QWidget window;
  auto* button = new QPushButton("Next >", &window);
  auto* label = new QLabel("Port:", &window);
  auto* port = new QWidget(&window);
  button->setGeometry(0, 0, 50, 20);
  label->setGeometry(0, 30, 50, 20);
  port->setGeometry(0, 60, 50, 20);
  window.resize(200, 200);
  WindowPointer pointer(window);
  pointer.watch(&window, WindowPointer::Hover::Background);
  pointer.watch(button, WindowPointer::Hover::Button);
  pointer.watch(port, WindowPointer::Hover::AlwaysNormal);

  moveMouse(button);
  EXPECT_EQ(pointer.state(), WindowPointer::State::Custom);
  moveMouse(&window, {150, 150});
  EXPECT_EQ(pointer.state(), WindowPointer::State::Normal);
  pointer.setCustom();
  // A move over the label reaches the window only as its parent: no change.
  moveMouse(&window, {5, 35});
  EXPECT_EQ(pointer.state(), WindowPointer::State::Custom);

  pointer.setWait();
  EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);
  moveMouse(button);
  moveMouse(&window, {150, 150});
  EXPECT_EQ(pointer.state(), WindowPointer::State::Wait);
  moveMouse(port);
  EXPECT_EQ(pointer.state(), WindowPointer::State::Normal);
  EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(PlatformUi, HandCursorFileLoadsWithItsHotSpotAndBadFilesAreRefused) {
  QString hand = QStringLiteral(QM_SOURCE_DIR "/resources/HAND-M.CUR");
  QCursor cursor = LoadCursorFile(hand);
  EXPECT_FALSE(cursor.pixmap().isNull());
  EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
  QFile f(hand);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QPoint hot = CursorFileHotSpot(f.readAll());
  EXPECT_EQ(cursor.hotSpot(), hot);
  EXPECT_GT(hot.x(), 0);  // the finger tip, not the corner

  QFile bad(env.programFolder().filePath("HAND-M.CUR"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("not a cursor at all, just text");
  bad.close();
  EXPECT_THROW(LoadCursorFile(bad.fileName()), Error);
  EXPECT_THROW(LoadCursorFile(env.programFolder().filePath("missing.cur")), Error);

  QWidget window;
  WindowPointer pointer(window);
  pointer.setCustom();  // without an image the custom state looks normal
  EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
  pointer.loadCustom(hand);
  EXPECT_EQ(window.cursor().shape(), Qt::BitmapCursor);
}

TEST(PlatformHelpers, TwipsAndFileFilters) {
  EXPECT_EQ(TwipsToPixels(8040, 96), 536);
  EXPECT_EQ(TwipsToPixels(15, 96), 1);
  EXPECT_EQ(TwipsToPixels(1440, 120), 120);
  EXPECT_EQ(TwipsToPixels(405, 144), 41);  // 40.5 rounds up
  EXPECT_EQ(qtFileFilter("Microsoft Database (*.dbc)|*.dbc|"), "Microsoft Database (*.dbc)");
  EXPECT_EQ(qtFileFilter("Text Files(*.txt)|*.txt|All Files (*.*)|*.*|"),
            "Text Files (*.txt);;All Files (*)");
  EXPECT_EQ(displayText("a\r\rb\r\nc"), "a\n\nb\nc");
}

TEST_F(PlatformUi, RealMessageBoxAnswersWithTheClassicCodesAndShowsCrAsLineBreaks) {
  QtDialogs real;
  auto pressLater = [](QMessageBox::StandardButton which, QString* seenText) {
    QTimer::singleShot(0, [which, seenText] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      *seenText = box->text();
      box->button(which)->click();
    });
  };
  QString seen;
  pressLater(QMessageBox::No, &seen);
  EXPECT_EQ(real.messageBox(nullptr, "Overwrite?\r\rorders", vbYesNo | vbQuestion, "Quillmere"),
            vbNo);
  EXPECT_EQ(seen, "Overwrite?\n\norders");
  pressLater(QMessageBox::Yes, &seen);
  EXPECT_EQ(real.messageBox(nullptr, "Overwrite?", vbYesNo, "Quillmere"), vbYes);
  pressLater(QMessageBox::Ok, &seen);
  EXPECT_EQ(real.messageBox(nullptr, "Transfer finished.", vbOKOnly, "Quillmere"), vbOK);
}
