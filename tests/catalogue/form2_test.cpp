// The main window without databases: its look, the selection buttons, the messages of delete and
// rename before any database is reached, "< Back", "Help", closing, and the send buttons.
#include "catalogue/form2.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

#include "catalogue/table_list.h"
#include "catalogue_support.h"
#include "core/settings.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "support/scripted_dialogs.h"

using State = platform::WindowPointer::State;
using testing_support::UiTestEnvironment;

namespace {

class MainWindow : public ::testing::Test {
 protected:
  UiTestEnvironment env;
  Form2& form() { return env.app().window<Form2>(); }
  QStringList messages() {
    QStringList out;
    for (const auto& m : env.dialogs().messages()) out << m.text;
    return out;
  }
};

void moveMouse(QWidget* w, QPoint at = {2, 2}) {
  QMouseEvent e(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton,
                Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

// The next widget the Tab key reaches.
QWidget* nextTabStop(QWidget* w) {
  for (QWidget* n = w->nextInFocusChain(); n != w; n = n->nextInFocusChain()) {
    if (n->focusPolicy() & Qt::TabFocus) return n;
  }
  return nullptr;
}

}  // namespace

TEST_F(MainWindow, LooksAsDesigned) {
  QFile::copy(QStringLiteral(QM_SOURCE_DIR "/resources/HAND-M.CUR"),
              env.programFolder().filePath("HAND-M.CUR"));
  Form2& f = form();
  EXPECT_TRUE(env.dialogs().shown.empty());
  EXPECT_EQ(f.windowTitle(), "Quillmere");
  EXPECT_EQ(f.width(), platform::TwipsToPixels(8040));
  f.showCentred();
  QCoreApplication::processEvents();
  // Outer height: title bar and borders included (this screen draws none); the check box's row
  // below "< Back" adds its 360 twips.
  EXPECT_EQ(f.frameGeometry().height(), platform::TwipsToPixels(5965 + 360));
  EXPECT_EQ(f.PushButton2->geometry(), platform::TwipsRect(120, 4980, 3840, 405));
  EXPECT_EQ(f.ProgressBar1->geometry(), platform::TwipsRect(120, 4460, 7800, 405));
  EXPECT_EQ(f.KeepTypes->geometry(), platform::TwipsRect(240, 5445, 3720, 300));
  EXPECT_EQ(f.ChangesOnly->geometry(), platform::TwipsRect(4200, 5445, 3720, 300));
  EXPECT_EQ(f.Frame2->geometry(), platform::TwipsRect(120, 120, 3840, 4215));
  EXPECT_EQ(f.List2->geometry(), platform::TwipsRect(240, 360, 3330, 1635));
  EXPECT_EQ(f.PushButton7->geometry(), platform::TwipsRect(240, 3598, 3330, 405));
  EXPECT_EQ(f.ProgressBar1->text(), "Progress Bar");
  EXPECT_EQ(platform::Background(f), platform::ButtonFaceColour());
  EXPECT_EQ(platform::Background(*f.Frame1), platform::ButtonFaceColour());
  // Tab order: both lists, the MySQL buttons, the FoxPro buttons, "< Back", "Help".
  EXPECT_EQ(nextTabStop(f.List1), f.List2);
  EXPECT_EQ(nextTabStop(f.List2), f.PushButton10);
  EXPECT_EQ(nextTabStop(f.PushButton6), f.PushButton8);
  EXPECT_EQ(nextTabStop(f.PushButton7), f.PushButton2);
  EXPECT_EQ(nextTabStop(f.PushButton12), f.KeepTypes);
  EXPECT_EQ(nextTabStop(f.KeepTypes), f.ChangesOnly);

  // The hand over buttons, the arrow over a list's entries, and neither while waiting.
  EXPECT_TRUE(f.pointer().hasCustomImage());
  moveMouse(f.PushButton5);
  EXPECT_EQ(f.pointer().state(), State::Custom);
  moveMouse(f.List2->viewport());
  EXPECT_EQ(f.pointer().state(), State::Normal);
  f.pointer().setWait();
  moveMouse(f.PushButton5);
  EXPECT_EQ(f.pointer().state(), State::Wait);
}

TEST_F(MainWindow, SelectAllAndDeselectAllTouchOnlyTheirOwnList) {
  Form2& f = form();
  f.List1->addItems({"a", "b", "c"});
  f.List2->addItems({"x", "y"});
  f.PushButton10->click();
  EXPECT_EQ(selectedEntries(*f.List1), (QStringList{"a", "b", "c"}));
  EXPECT_TRUE(selectedEntries(*f.List2).isEmpty());
  f.PushButton8->click();
  f.PushButton11->click();
  EXPECT_TRUE(selectedEntries(*f.List1).isEmpty());
  EXPECT_EQ(selectedEntries(*f.List2), (QStringList{"x", "y"}));
}

TEST_F(MainWindow, DeleteAndRenameAnswerBeforeReachingTheDatabase) {
  Form2& f = form();
  f.PushButton1->click();  // empty list
  f.PushButton6->click();
  f.PushButton7->click();  // FoxPro rename: always its message
  EXPECT_EQ(messages(), (QStringList{"Please select a table", "Please select a table",
                                     "Rename not available for FoxPro"}));
  for (const auto& m : env.dialogs().messages()) {
    EXPECT_EQ(m.style, platform::vbOKOnly);
    EXPECT_EQ(m.caption, "Quillmere");
  }
  env.dialogs().shown.clear();

  f.List1->addItems({"orders", "Customers", "archive"});
  f.List1->setCurrentRow(1, QItemSelectionModel::NoUpdate);  // a current entry, none selected
  f.PushButton1->click();                                    // is no choice
  f.PushButton6->click();
  selectOnly(*f.List1, {"archive", "orders"});
  f.PushButton6->click();
  EXPECT_EQ(messages(), (QStringList{"Please select a table", "Please select a table",
                                     "Please select just one table to rename"}));

  // One selected: the prompt names it and offers it; cancel or an empty answer changes nothing.
  env.dialogs().shown.clear();
  selectOnly(*f.List1, {"orders"});
  f.PushButton6->click();
  env.dialogs().textAnswers = {""};
  f.PushButton6->click();
  ASSERT_EQ(env.dialogs().shown.size(), 2u);
  EXPECT_EQ(env.dialogs().shown[0].kind, testing_support::Shown::Kind::Input);
  EXPECT_EQ(env.dialogs().shown[0].text, "Enter new name of orders:");
  EXPECT_EQ(env.dialogs().shown[0].start, "orders");
  EXPECT_EQ(env.dialogs().shown[0].caption, "Quillmere");
  EXPECT_EQ(entries(*f.List1), (QStringList{"archive", "Customers", "orders"}));
  EXPECT_EQ(f.pointer().state(), State::Normal);
}

TEST_F(MainWindow, ASelectionWithoutACurrentEntryIsTheChoice) {
  Form2& f = form();
  f.List1->addItems({"orders"});
  f.PushButton10->click();  // "Select All": every entry selected, none current
  ASSERT_EQ(f.List1->currentRow(), -1);
  f.PushButton6->click();  // the rename asks for the new name of the selected table
  ASSERT_EQ(env.dialogs().shown.size(), 1u);
  EXPECT_EQ(env.dialogs().shown[0].text, "Enter new name of orders:");

  // The keyboard: Shift+Down from the current entry selects two, and a rename wants just one.
  env.dialogs().shown.clear();
  f.List1->addItems({"archive"});
  f.List1->clearSelection();
  f.List1->setCurrentRow(0);
  QKeyEvent shiftDown(QEvent::KeyPress, Qt::Key_Down, Qt::ShiftModifier);
  QCoreApplication::sendEvent(f.List1, &shiftDown);
  ASSERT_EQ(selectedEntries(*f.List1), (QStringList{"archive", "orders"}));
  f.PushButton6->click();
  EXPECT_EQ(messages(), QStringList{"Please select just one table to rename"});
}

TEST_F(MainWindow, BackShowsTheConnectionWindowAndHelpNamesTheContactPage) {
  Form2& f = form();
  int shownConnection = 0;
  env.app().showConnectionWindow = [&] { ++shownConnection; };
  f.List1->addItems({"a", "b"});
  f.List1->item(1)->setSelected(true);
  f.showCentred();
  f.PushButton2->click();
  EXPECT_EQ(shownConnection, 1);
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(selectedEntries(*f.List1), QStringList{"b"});  // kept as they were

  f.PushButton12->click();
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text,
            "Questions? Please contact Team Tarnwick at https://www.tarnwick.example/contact");
  EXPECT_EQ(shown[0].style, platform::vbOKOnly);

  f.close();
  EXPECT_EQ(env.endRequests, 1);
  EXPECT_TRUE(env.app().ending());
}

TEST_F(MainWindow, TheCheckBoxesStartOffAreRememberedAndReachBothSends) {
  Form2& f = form();
  EXPECT_EQ(f.KeepTypes->accessibleName(), "Keep types, keys and indexes");
  EXPECT_EQ(f.ChangesOnly->accessibleName(), "Send changes only");
  EXPECT_FALSE(f.KeepTypes->isChecked());
  EXPECT_FALSE(f.ChangesOnly->isChecked());
  std::vector<std::pair<bool, bool>> seen;  // typed, changes only
  auto note = [&](platform::MainWindowView& v) { seen.emplace_back(v.typed, v.changesOnly); };
  env.app().transfers.sendToFoxpro = note;
  env.app().transfers.sendToMySql = note;
  f.PushButton4->click();
  f.KeepTypes->click();
  EXPECT_EQ(platform::Settings::value(platform::kKeepTypesSetting), "1");
  f.PushButton3->click();
  f.ChangesOnly->click();
  EXPECT_EQ(platform::Settings::value(platform::kChangesOnlySetting), "1");
  f.PushButton4->click();
  EXPECT_EQ(seen,
            (std::vector<std::pair<bool, bool>>{{false, false}, {true, false}, {true, true}}));
  // The next run's window starts as this one was left.
  {
    Form2 again;
    EXPECT_TRUE(again.KeepTypes->isChecked());
    EXPECT_TRUE(again.ChangesOnly->isChecked());
  }
  f.KeepTypes->click();
  f.ChangesOnly->click();
  EXPECT_EQ(platform::Settings::value(platform::kKeepTypesSetting), "0");
  Form2 later;
  EXPECT_FALSE(later.KeepTypes->isChecked());
  EXPECT_FALSE(later.ChangesOnly->isChecked());
}

TEST_F(MainWindow, SendButtonsHandTheirTransferTheWindowAndNothingElseStartsMeanwhile) {
  Form2& f = form();
  int back = 0;
  env.app().showConnectionWindow = [&] { ++back; };
  std::vector<QString> calls;
  env.app().transfers.sendToFoxpro = [&](platform::MainWindowView& v) {
    calls.push_back("foxpro");
    EXPECT_EQ(&v.List1, f.List1);
    EXPECT_EQ(&v.List2, f.List2);
    EXPECT_EQ(&v.ProgressBar1, f.ProgressBar1);
    EXPECT_EQ(&v.window, &f);
    EXPECT_TRUE(f.busy());
    // Presses while the transfer yields: all refused without a box, the bar saying why. On
    // their own the deletes and the rename would answer "Please select a table" here.
    for (QPushButton* b :
         {f.PushButton4, f.PushButton3, f.PushButton1, f.PushButton6, f.PushButton2}) {
      f.ProgressBar1->setFormat("Progress Bar");
      b->click();
      EXPECT_EQ(f.ProgressBar1->format(), "Busy: sending tables to FoxPro")
          << b->text().toStdString();
    }
  };
  env.app().transfers.sendToMySql = [&](platform::MainWindowView&) {
    calls.push_back("mysql");
    throw platform::Error(QStringLiteral("lost"));
  };
  f.PushButton3->click();
  EXPECT_EQ(calls, std::vector<QString>{"foxpro"});
  EXPECT_TRUE(env.dialogs().shown.empty());
  EXPECT_EQ(f.ProgressBar1->format(), "Progress Bar");  // no longer busy
  EXPECT_EQ(back, 0);
  EXPECT_FALSE(f.busy());

  // A transfer that fails is reported, and the window takes the next operation.
  f.PushButton4->click();
  f.PushButton1->click();
  EXPECT_EQ(calls, (std::vector<QString>{"foxpro", "mysql"}));
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "Application Error");
  EXPECT_TRUE(
      shown[0].text.startsWith("lost\r\nin Dovrant2021/08/31.Form2.PushButton4_Click "
                               "at line 100"));
  EXPECT_EQ(shown[1].text, "Please select a table");
}
