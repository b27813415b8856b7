#include "catalogue/form2.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "ado/dataaccess.h"
#include "catalogue/table_list.h"
#include "catalogue/table_operations.h"
#include "core/connection_strings.h"
#include "core/settings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "platform/ui.h"

using platform::ErrorTrap;
using platform::MsgBox;
using platform::TwipsRect;
using Hover = platform::WindowPointer::Hover;

namespace {

constexpr const char* kWhere = "Form2";
constexpr int kClientWidth = 8040;
constexpr int kDesignClientHeight = 5490;
// "< Back" and the room kept below it; the window's outer height follows from them.
constexpr int kBackTop = 4980;
constexpr int kBackHeight = 405;
constexpr int kRoomBelowBack = 580;
// The check box for typed transfers has a row of its own below "< Back" and "Help", so the
// window grows by that row and every other control stays where it was.
constexpr int kKeepTypesTop = kBackTop + kBackHeight + 60;
constexpr int kKeepTypesHeight = 300;
constexpr int kKeepTypesRow = kKeepTypesTop + kKeepTypesHeight - (kBackTop + kBackHeight);

// Removes the first entry holding exactly this name, wherever it is now.
void TakeEntry(QListWidget& list, const QString& name) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->text() == name) {
      delete list.takeItem(i);
      return;
    }
  }
}

TableList* tableList(QWidget* parent, const char* name) {
  auto* list = platform::Place(new TableList(parent), name, 240, 360, 3330, 1635);
  list->setFont(platform::TextFont(true));
  return list;
}

void message(const char* text, QWidget* parent) {
  MsgBox(QString::fromUtf8(text), platform::vbOKOnly, {}, parent);
}

constexpr const char* kIdleText = "Progress Bar";
constexpr const char* kBusyPrefix = "Busy: ";

// Whatever made the selection (mouse, keyboard, "Select All") is a choice; "Select All" leaves no
// current entry, so the current entry cannot be what decides.
bool hasSelection(const QListWidget& list) { return !list.selectedItems().isEmpty(); }

}  // namespace

Form2::Form2() {
  setObjectName(QStringLiteral("Form2"));
  platform::MakeFixedWindow(*this, kClientWidth, kDesignClientHeight + kKeepTypesRow);
  setFont(platform::TextFont(true));

  Frame2 = platform::MakeFrame(this, "Frame2", "MySQL Tables", 120, 120, 3840, 4215);
  List1 = tableList(Frame2, "List1");
  PushButton10 = platform::MakeButton(Frame2, "PushButton10", "Select All", 240, 2100, 1600, 405);
  PushButton11 =
      platform::MakeButton(Frame2, "PushButton11", "Deselect All", 1960, 2100, 1600, 405);
  PushButton3 =
      platform::MakeButton(Frame2, "PushButton3", "Send Table/s To FoxPro", 240, 2600, 3330, 405);
  PushButton1 = platform::MakeButton(Frame2, "PushButton1", "Delete Table/s", 240, 3100, 3330, 405);
  PushButton6 = platform::MakeButton(Frame2, "PushButton6", "Rename Table", 240, 3600, 3330, 405);

  Frame1 = platform::MakeFrame(this, "Frame1", "FoxPro Tables", 4080, 120, 3840, 4215);
  List2 = tableList(Frame1, "List2");
  PushButton8 = platform::MakeButton(Frame1, "PushButton8", "Select All", 240, 2100, 1600, 405);
  PushButton9 = platform::MakeButton(Frame1, "PushButton9", "Deselect All", 1960, 2100, 1600, 405);
  PushButton4 =
      platform::MakeButton(Frame1, "PushButton4", "Send Table/s To MySQL", 240, 2600, 3330, 405);
  PushButton5 = platform::MakeButton(Frame1, "PushButton5", "Delete Table/s", 240, 3100, 3330, 405);
  PushButton7 = platform::MakeButton(Frame1, "PushButton7", "Rename Table", 240, 3598, 3330, 405);

  ProgressBar1 = platform::Place(new QProgressBar(this), "ProgressBar1", 120, 4460, 7800, 405);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setFormat(QStringLiteral("Progress Bar"));
  ProgressBar1->setAlignment(Qt::AlignCenter);
  PushButton2 =
      platform::MakeButton(this, "PushButton2", "< Back", 120, kBackTop, 3840, kBackHeight);
  PushButton12 =
      platform::MakeButton(this, "PushButton12", "Help", 4080, kBackTop, 3840, kBackHeight);
  // Both check boxes share the row below "< Back" and "Help", each under one of them.
  auto checkBox = [this](const char* name, const char* caption, const char* description, int left,
                         const char* setting) {
    auto* box = platform::Place(new QCheckBox(QString::fromUtf8(caption), this), name, left,
                                kKeepTypesTop, 3720, kKeepTypesHeight);
    box->setFont(platform::TextFont(true));
    box->setAccessibleName(QString::fromUtf8(caption));
    box->setAccessibleDescription(QString::fromUtf8(description));
    box->setChecked(platform::Settings::value(QLatin1String(setting)) == QLatin1String("1"));
    connect(box, &QCheckBox::toggled, this, [setting](bool on) {
      platform::Settings::setValue(QLatin1String(setting),
                                   on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    return box;
  };
  KeepTypes = checkBox("KeepTypes", "Keep types, keys and indexes",
                       "Send tables with typed columns, keys and indexes instead of text columns",
                       240, platform::kKeepTypesSetting);
  ChangesOnly = checkBox("ChangesOnly", "Send changes only",
                         "Send only the rows that changed since the tables were sent with their "
                         "types and keys",
                         4200, platform::kChangesOnlySetting);

  // Tab order: the MySQL list, the FoxPro list, the MySQL buttons, the FoxPro buttons, "< Back",
  // "Help" and the check boxes.
  QWidget* order[] = {List1,       List2,        PushButton10, PushButton11,
                      PushButton3, PushButton1,  PushButton6,  PushButton8,
                      PushButton9, PushButton4,  PushButton5,  PushButton7,
                      PushButton2, PushButton12, KeepTypes,    ChangesOnly};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  pointer_ = new platform::WindowPointer(*this);
  QPushButton* buttons[] = {PushButton1, PushButton2,  PushButton3,  PushButton4,
                            PushButton5, PushButton6,  PushButton7,  PushButton8,
                            PushButton9, PushButton10, PushButton11, PushButton12};
  for (QPushButton* b : buttons) pointer_->watch(b, Hover::Button);
  // A list's own mouse moves arrive at its viewport; its border is the list itself.
  for (QWidget* w :
       std::initializer_list<QWidget*>{this, Frame1, Frame2, List1, List1->viewport(), List2,
                                       List2->viewport(), KeepTypes, ChangesOnly}) {
    pointer_->watch(w, Hover::Background);
  }

  connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
  connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
  connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
  connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
  connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });
  connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
  connect(PushButton9, &QPushButton::clicked, this, [this] { PushButton9_Click(); });
  connect(PushButton10, &QPushButton::clicked, this, [this] { PushButton10_Click(); });
  connect(PushButton11, &QPushButton::clicked, this, [this] { PushButton11_Click(); });
  connect(PushButton12, &QPushButton::clicked, this, [this] { PushButton12_Click(); });

  Form_Load();
}

void Form2::Form_Load() {
  ErrorTrap trap(kWhere, "Form_Load", this);
  auto& app = platform::Application::current();
  trap.step(100, [&] { Main::ApplyFormColors(*this); });
  trap.step(102, [&] { setWindowIcon(app.icon()); });
  trap.step(104, [&] { platform::LoadHandPointer(*pointer_); });
  trap.step(106, [&] { setWindowTitle(QLatin1String(Main::kProductTitle)); });
  trap.step(108, [&] { applyOuterHeight(); });
}

void Form2::applyOuterHeight() {
  // Outer height: title bar and borders included. They are known once the window is on screen
  // (none at all on a screen without a window manager); until then the client area takes it all.
  int outer = platform::TwipsToPixels(kBackTop + kBackHeight + kKeepTypesRow + kRoomBelowBack);
  int frame = isVisible() ? frameGeometry().height() - height() : 0;
  setFixedHeight(outer - frame);
}

void Form2::showCentred() {
  if (!shownOnce_) {
    shownOnce_ = true;
    platform::CentreOnScreen(*this);
  }
  show();
  raise();
  activateWindow();
}

void Form2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  applyOuterHeight();
  // A window manager may add its frame only after the window appears.
  QTimer::singleShot(0, this, [this] { applyOuterHeight(); });
}

platform::MainWindowView Form2::view() {
  return platform::MainWindowView{*this,
                                  *List1,
                                  *List2,
                                  *ProgressBar1,
                                  *pointer_,
                                  KeepTypes->isChecked(),
                                  ChangesOnly->isChecked()};
}

// ---- MySQL side --------------------------------------------------------------------------------

bool Form2::runLong(const QString& activity, const std::function<void()>& operation) {
  if (!gate_.run(activity, [&] {
        operation();
        // A refusal said so in the bar; once the operation is over that is no longer true.
        if (ProgressBar1->format().startsWith(QLatin1String(kBusyPrefix)))
          ProgressBar1->setFormat(QLatin1String(kIdleText));
      })) {
    refused();
    return false;
  }
  return true;
}

void Form2::refused() {
  // Said where the user looks, without a box to dismiss; the running operation goes on.
  ProgressBar1->setFormat(QLatin1String(kBusyPrefix) + gate_.activity());
}

void Form2::PushButton1_Click() {
  runLong(QStringLiteral("deleting MySQL tables"), [this] { deleteMySqlTables(); });
}

void Form2::deleteMySqlTables() {
  ErrorTrap trap(kWhere, "PushButton1_Click", this);
  auto& app = platform::Application::current();
  if (!hasSelection(*List1)) {
    trap.step(100, [&] { message(Form2Texts::kSelectATable, this); });
    return;
  }
  trap.step(102, [&] { pointer_->setWait(); });
  const int chosen = int(List1->selectedItems().size());
  int done = 0;
  gate_.setActivity(QStringLiteral("deleting 1 of %1").arg(chosen));
  // From the bottom up, so removing an entry keeps the lower indexes valid.
  for (int i = List1->count() - 1; i >= 0; --i) {
    trap.step(104, [&] { platform::DoEvents(); });
    if (app.ending()) break;
    if (i >= List1->count()) continue;
    QListWidgetItem* entry = List1->item(i);
    if (!entry->isSelected()) continue;
    gate_.setActivity(QStringLiteral("deleting %1 of %2").arg(++done).arg(chosen));
    // The entry goes only with its table: a refused drop is reported and the entry stays, so
    // the list never hides a table that still exists.
    // The window answers while the server works on the drop (another session may hold the
    // table); the gate keeps a second operation from starting meanwhile.
    // The entry is found again by its name afterwards: events ran meanwhile.
    const QString name = entry->text();
    bool ending = false;
    bool dropped = trap.step(106, [&] {
      try {
        Catalogue::DropMySqlTable(MySQLConnectionString(), name, platform::YieldWhileWaiting);
      } catch (const platform::ProgramEnding&) {
        ending = true;
      }
    });
    if (ending) return;
    if (dropped) trap.step(108, [&] { TakeEntry(*List1, name); });
  }
  trap.step(110, [&] { pointer_->setNormal(); });
}

void Form2::PushButton6_Click() {
  runLong(QStringLiteral("renaming a MySQL table"), [this] { renameMySqlTable(); });
}

void Form2::renameMySqlTable() {
  ErrorTrap trap(kWhere, "PushButton6_Click", this);
  if (!hasSelection(*List1)) {
    trap.step(100, [&] { message(Form2Texts::kSelectATable, this); });
    return;
  }
  int selected = 0;
  QListWidgetItem* entry = nullptr;
  trap.step(102, [&] {
    for (int i = 0; i < List1->count(); ++i) {
      if (List1->item(i)->isSelected()) {
        ++selected;
        entry = List1->item(i);
      }
    }
  });
  if (selected != 1) {
    trap.step(104, [&] { message(Form2Texts::kJustOneToRename, this); });
    return;
  }
  const QString oldName = entry->text();
  QString newName;
  trap.step(106, [&] {
    newName = platform::InputBox(
        QStringLiteral("Enter new name of ") + oldName + QStringLiteral(":"), {}, oldName, this);
  });
  // An empty answer is also what a cancelled box gives; the same name asks for nothing to do.
  if (newName.isEmpty() || newName == oldName || platform::Application::current().ending()) return;
  gate_.setActivity(QStringLiteral("renaming ") + oldName);
  trap.step(108, [&] { pointer_->setWait(); });
  Catalogue::RenameOutcome outcome;
  // A refused rename leaves the list as it was; a successful one shows the name as stored.
  bool ending = false;
  bool renamed = trap.step(110, [&] {
    try {
      outcome = Catalogue::RenameMySqlTable(MySQLConnectionString(), oldName, newName,
                                            platform::YieldWhileWaiting);
    } catch (const platform::ProgramEnding&) {
      ending = true;
    }
  });
  if (ending) return;
  if (renamed && outcome.listingError.isEmpty()) {
    trap.step(112, [&] {
      TakeEntry(*List1, oldName);
      List1->addItem(outcome.stored);
    });
  } else if (renamed) {
    // The table was renamed; only the name the server stored is unknown. Say so, and show what
    // the server holds rather than a name that no longer exists.
    trap.step(116, [&] {
      MsgBox(Catalogue::RenamedButUnlistedText(oldName, newName, outcome.listingError),
             platform::vbOKOnly, {}, this);
    });
    trap.step(118, [&] { MySQL::AddTablesToMySQLListbox(*List1); });
  }
  trap.step(114, [&] { pointer_->setNormal(); });
}

void Form2::PushButton10_Click() {
  ErrorTrap trap(kWhere, "PushButton10_Click", this);
  trap.step(100, [&] { List1->selectAll(); });
}

void Form2::PushButton11_Click() {
  ErrorTrap trap(kWhere, "PushButton11_Click", this);
  trap.step(100, [&] { List1->clearSelection(); });
}

// ---- FoxPro side -------------------------------------------------------------------------------

void Form2::PushButton5_Click() {
  runLong(QStringLiteral("deleting FoxPro tables"), [this] { deleteFoxproTables(); });
}

void Form2::deleteFoxproTables() {
  ErrorTrap trap(kWhere, "PushButton5_Click", this);
  ado::Connection cn;
  trap.step(100, [&] { pointer_->setWait(); });
  bool open = trap.step(102, [&] {
    cn.setCursorLocation(ado::adUseServer);
    cn.open(FoxproConnectionString());
  });
  if (!hasSelection(*List2)) {
    trap.step(104, [&] { message(Form2Texts::kSelectATable, this); });
    trap.step(106, [&] { pointer_->setNormal(); });
    return;
  }
  const int chosen = int(List2->selectedItems().size());
  int done = 0;
  // Without a connection there is nothing to drop on; its failure was reported.
  for (int i = List2->count() - 1; open && i >= 0; --i) {
    QListWidgetItem* entry = List2->item(i);
    if (!entry->isSelected()) continue;
    gate_.setActivity(QStringLiteral("deleting %1 of %2").arg(++done).arg(chosen));
    bool dropped = trap.step(108, [&] { Catalogue::DropFoxproTable(cn, entry->text()); });
    if (dropped) trap.step(110, [&] { delete List2->takeItem(i); });
  }
  trap.step(112, [&] { pointer_->setNormal(); });
  trap.step(114, [&] { cn.close(); });
}

void Form2::PushButton7_Click() {
  ErrorTrap trap(kWhere, "PushButton7_Click", this);
  trap.step(100, [&] { message(Form2Texts::kNoFoxproRename, this); });
}

void Form2::PushButton8_Click() {
  ErrorTrap trap(kWhere, "PushButton8_Click", this);
  trap.step(100, [&] { List2->selectAll(); });
}

void Form2::PushButton9_Click() {
  ErrorTrap trap(kWhere, "PushButton9_Click", this);
  trap.step(100, [&] { List2->clearSelection(); });
}

// ---- transfers ---------------------------------------------------------------------------------

void Form2::PushButton3_Click() { send(true); }

void Form2::PushButton4_Click() { send(false); }

void Form2::send(bool toFoxpro) {
  runLong(toFoxpro ? QStringLiteral("sending tables to FoxPro")
                   : QStringLiteral("sending tables to MySQL"),
          [&] {
            ErrorTrap trap(kWhere, toFoxpro ? "PushButton3_Click" : "PushButton4_Click", this);
            auto& transfers = platform::Application::current().transfers;
            auto& transfer = toFoxpro ? transfers.sendToFoxpro : transfers.sendToMySql;
            trap.step(100, [&] {
              if (!transfer) return;
              platform::MainWindowView v = view();
              transfer(v);
            });
          });
}

// ---- window ------------------------------------------------------------------------------------

void Form2::PushButton2_Click() {
  // Going back while an operation works on the lists would let "Next >" refill them under it.
  if (gate_.busy()) {
    refused();
    return;
  }
  ErrorTrap trap(kWhere, "PushButton2_Click", this);
  auto& app = platform::Application::current();
  bool shown = trap.step(100, [&] {
    if (!app.showConnectionWindow) throw platform::Error(QStringLiteral("No connection window."));
    app.showConnectionWindow();
  });
  // Hiding this window while the connection window failed to appear would leave no window.
  if (shown) trap.step(102, [&] { hide(); });
}

void Form2::PushButton12_Click() {
  ErrorTrap trap(kWhere, "PushButton12_Click", this);
  trap.step(100, [&] {
    MsgBox(QLatin1String(Form2Texts::kHelpPrefix) + QLatin1String(Form2Texts::kContactPage),
           platform::vbOKOnly, {}, this);
  });
}

void Form2::Form_Unload() { platform::Application::current().quit(); }

void Form2::closeEvent(QCloseEvent* event) {
  event->accept();
  Form_Unload();
}

// ---- wiring ------------------------------------------------------------------------------------

void WireMainWindow(platform::Application& app) {
  app.mainWindow.fillFoxproList = [&app](const std::string& connectionString) {
    Foxpro::AddTablesToFoxproListbox(*app.window<Form2>().List2, connectionString);
  };
  app.mainWindow.fillMySqlList = [&app] {
    MySQL::AddTablesToMySQLListbox(*app.window<Form2>().List1);
  };
  app.mainWindow.show = [&app] { app.window<Form2>().showCentred(); };
}
