#include "shell/form1.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <utility>

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "core/settings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "shell/add_folder.h"
#include "shell/connection_tests.h"

using platform::ErrorTrap;
using platform::MsgBox;
using platform::TwipsRect;
using Hover = platform::WindowPointer::Hover;

namespace {

constexpr int kClientWidth = 8040;
constexpr int kClientHeight = 5565;
constexpr const char* kWhere = "Form1";

// Settings keys of the persisted fields.
constexpr const char* kFoxproOption = "FoxproOption";
constexpr const char* kDbcFile = "DBCFile";
constexpr const char* kFreeTableFolder = "FreeTableFolder";
constexpr const char* kMySqlServer = "MySQLServer";
constexpr const char* kMySqlPort = "MySQLPort";
constexpr const char* kMySqlUser = "MySQLUser";
constexpr const char* kMySqlPassword = "MySQLPassword";
constexpr const char* kMySqlDatabase = "MySQLDatabase";
// Extra connection-string keys, written by the user into the settings file (no field).
constexpr const char* kMySqlOptions = "MySQLOptions";

// The gap between an option's indicator and its caption, as narrow as the design assumed.
class OptionStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_RadioButtonLabelSpacing) return 3;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

QLineEdit* textBox(QWidget* parent, const char* name, int l, int t, int w, int h) {
  auto* e = platform::Place(new QLineEdit(parent), name, l, t, w, h);
  e->setFont(platform::TextFont(true));
  return e;
}

// A label or option button with its caption, on the window's white.
template <class Control>
Control* captioned(QWidget* parent, const char* name, const char* caption, int l, int t, int w,
                   int h) {
  auto* c = platform::Place(new Control(QString::fromUtf8(caption), parent), name, l, t, w, h);
  c->setFont(platform::TextFont(true));
  platform::SetBackground(*c, Qt::white);
  return c;
}
const auto label = &captioned<QLabel>;
const auto option = &captioned<QRadioButton>;

QGroupBox* frame(QWidget* parent, const char* name, const char* caption, int l, int t, int w,
                 int h) {
  auto* f = platform::MakeFrame(parent, name, caption, l, t, w, h);
  platform::SetBackground(*f, Qt::white);
  return f;
}

}  // namespace

QString Form1Texts::FoxproHelp() {
  return QLatin1String(kFoxproHelp) + QStringLiteral("\r\r") + QLatin1String(kCodePageHelp);
}

QString Form1Texts::MySqlHelp() {
  return QStringLiteral(
             "If you cannot establish connection to your database with this program, please go "
             "to: ") +
         QStringLiteral("\r\r") + QLatin1String(kWorkbenchPage) + QStringLiteral("\r\r") +
         QStringLiteral(
             "Download and install the MySQL Workbench. Try to connect to the same database "
             "(with the same login information you are using here). This will determine if the "
             "login you are using is correct.") +
         QStringLiteral("\r\r") +
         QStringLiteral(
             "Finally, make sure your host allows a direct connection to your MySQL database -- "
             "not a web based connection, for example.") +
         QStringLiteral("\r\r") + kSecureConnectionHelp;
}

Form1::Form1() : optionStyle_(new OptionStyle) {
  optionStyle_->setParent(this);
  setObjectName(QStringLiteral("Form1"));
  platform::MakeFixedWindow(*this, kClientWidth, kClientHeight);
  setFont(platform::TextFont(false));
  platform::SetBackground(*this, Qt::white);

  Frame1 = frame(this, "Frame1", "FoxPro Login", 120, 120, 7800, 1845);
  Option1 = option(Frame1, "Option1", "DBC File:", 240, 345, 1095, 255);
  Text1 = textBox(Frame1, "Text1", 1440, 300, 5295, 345);
  PushButton5 = platform::MakeButton(Frame1, "PushButton5", "...", 6855, 300, 720, 345);
  Option2 = option(Frame1, "Option2", "Free Table Folder:", 240, 845, 1815, 255);
  Text2 = textBox(Frame1, "Text2", 2160, 800, 4575, 345);
  PushButton4 = platform::MakeButton(Frame1, "PushButton4", "...", 6855, 795, 720, 345);
  PushButton3 =
      platform::MakeButton(Frame1, "PushButton3", "Test Connection", 240, 1270, 3600, 405);
  PushButton10 = platform::MakeButton(Frame1, "PushButton10", "Help", 3960, 1275, 3600, 405);

  Frame2 = frame(this, "Frame2", "MySQL Login", 120, 2040, 7800, 2865);
  Label3 = label(Frame2, "Label3", "Server:", 240, 405, 1095, 255);
  Text3 = textBox(Frame2, "Text3", 1320, 360, 4575, 345);
  Label6 = label(Frame2, "Label6", "Port:", 6000, 405, 495, 255);
  Text4 = textBox(Frame2, "Text4", 6480, 360, 1095, 345);
  Label2 = label(Frame2, "Label2", "Username:", 240, 885, 1095, 255);
  Text5 = textBox(Frame2, "Text5", 1320, 840, 6255, 345);
  Label5 = label(Frame2, "Label5", "Password:", 240, 1365, 1095, 255);
  Text6 = textBox(Frame2, "Text6", 1320, 1320, 6255, 345);
  Label4 = label(Frame2, "Label4", "Database:", 240, 1845, 975, 255);
  Text7 = textBox(Frame2, "Text7", 1320, 1800, 6255, 345);
  PushButton6 =
      platform::MakeButton(Frame2, "PushButton6", "Test Connection", 240, 2280, 3600, 405);
  PushButton1 = platform::MakeButton(Frame2, "PushButton1", "Help", 3960, 2280, 3600, 405);

  PushButton2 = platform::MakeButton(this, "PushButton2", "Next >", 120, 5040, 7800, 405);

  // Qt draws an option's indicator wider than the design assumed: let a caption have the room
  // it needs up to its text box, so "Free Table Folder:" is not cut off.
  for (auto [opt, box] : {std::pair{Option1, Text1}, std::pair{Option2, Text2}}) {
    opt->setStyle(optionStyle_);
    int room = box->x() - opt->x() - 2;
    opt->resize(std::max(opt->width(), std::min(opt->sizeHint().width(), room)), opt->height());
  }

  // The password is shown as "*" whatever the style would draw.
  Text6->setEchoMode(QLineEdit::Password);
  Text6->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
  Option1->setChecked(true);

  // Tab order as designed: the FoxPro side, the MySQL side, "Next >", then the two options.
  QWidget* order[] = {Text1,       PushButton5, Text2,   PushButton4, PushButton3, PushButton10,
                      Text3,       Text4,       Text5,   Text6,       Text7,       PushButton6,
                      PushButton1, PushButton2, Option1, Option2};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  pointer_ = new platform::WindowPointer(*this);
  for (QWidget* b : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6,
                     PushButton10}) {
    pointer_->watch(b, Hover::Button);
  }
  for (QWidget* w :
       std::initializer_list<QWidget*>{this, Frame1, Frame2, Text1, Text2, Text5, Text6, Text7}) {
    pointer_->watch(w, Hover::Background);
  }
  pointer_->watch(Text4, Hover::AlwaysNormal);

  connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
  connect(PushButton10, &QPushButton::clicked, this, [this] { PushButton10_Click(); });
  connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
  connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
  connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
  connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option1_Click();
  });
  connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option2_Click();
  });
  for (QLineEdit* box : {Text1, Text2, Text3, Text4, Text5, Text6, Text7}) {
    connect(box, &QLineEdit::textChanged, this, [this, box] { Text_Change(box); });
    box->installEventFilter(this);
  }

  platform::Application::current().connectionFields = [this] { return fields(); };
}

Form1::~Form1() {
  if (platform::Application::exists()) platform::Application::current().connectionFields = nullptr;
}

platform::ConnectionFields Form1::fields() const {
  platform::ConnectionFields f;
  f.useDbcFile = Option1->isChecked();
  f.dbcFile = Text1->text();
  f.freeTableFolder = Text2->text();
  f.server = Text3->text();
  f.port = Text4->text();
  f.user = Text5->text();
  f.password = Text6->text();
  f.database = Text7->text();
  f.mysqlOptions = platform::Settings::value(kMySqlOptions);
  f.foxproCodePage = platform::Settings::value(platform::kFoxproCodePageSetting);
  return f;
}

void Form1::start() {
  if (loaded_) return;
  loaded_ = true;
  Form_Load();
  if (!movedToMainWindow_ && !platform::Application::current().ending()) showCentred();
}

void Form1::showCentred() {
  if (!centred_) {
    centred_ = true;
    platform::CentreOnScreen(*this);
  }
  show();
  raise();
  activateWindow();
}

void WireConnectionWindow(platform::Application& app) {
  app.showConnectionWindow = [&app] { app.window<Form1>().showCentred(); };
}

void Form1::Form_Load() {
  ErrorTrap trap(kWhere, "Form_Load", this);
  auto& app = platform::Application::current();
  trap.step(100, [&] { Main::ApplySkin(*this); });
  trap.step(102, [&] {
    setWindowTitle(QLatin1String(Main::kProductTitle));
    setWindowIcon(app.icon());
  });
  trap.step(104, [&] { Main::SetShortTitle(); });
  trap.step(106, [&] { Main::VisitWebSiteAtRandom(); });
  trap.step(108, [&] { platform::LoadHandPointer(*pointer_); });
  trap.step(110, [&] { Text1->setText(platform::Settings::value(kDbcFile)); });
  trap.step(112, [&] { Text2->setText(platform::Settings::value(kFreeTableFolder)); });
  trap.step(114, [&] {
    if (platform::Settings::value(kFoxproOption) == QLatin1String("2")) {
      Option2->setChecked(true);
    } else {
      Option1->setChecked(true);
    }
  });
  trap.step(116, [&] { Text3->setText(platform::Settings::value(kMySqlServer, "localhost")); });
  trap.step(118, [&] { Text4->setText(platform::Settings::value(kMySqlPort, "3306")); });
  trap.step(120, [&] { Text5->setText(platform::Settings::value(kMySqlUser)); });
  trap.step(122, [&] { Text6->setText(platform::Settings::value(kMySqlPassword)); });
  trap.step(124, [&] { Text7->setText(platform::Settings::value(kMySqlDatabase)); });
  trap.step(126, [&] {
    // A returning user whose settings still connect goes straight on to the main window.
    if (!Text3->text().isEmpty() && Foxpro::CanConnectFoxpro() && Foxpro::CanConnectMySQL()) {
      PushButton2_Click();
    }
  });
}

void Form1::PushButton2_Click() {
  // The listings below yield to window events, so the button is live while they run; a run
  // inside the run would fill the lists twice and hand on twice.
  if (nextRunning_) return;
  const QScopedValueRollback<bool> running(nextRunning_, true);
  ErrorTrap trap(kWhere, "PushButton2_Click", this);
  auto& app = platform::Application::current();
  bool connects = false;
  trap.step(100, [&] { pointer_->setWait(); });
  trap.step(102, [&] { connects = Foxpro::CanConnectFoxpro(); });
  if (connects) {
    connects = false;
    // The window answers while a far server is reached; this handler refuses to run twice.
    trap.step(104, [&] { connects = Foxpro::CanConnectMySQL(platform::YieldWhileWaiting); });
  }
  // Until the main window is wired in there is nothing to hand on to, and hiding this window
  // would leave the program without any window.
  if (connects && app.mainWindow.wired()) {
    std::string foxpro;
    trap.step(106, [&] { foxpro = FoxproConnectionString(); });
    trap.step(108, [&] { app.mainWindow.fillFoxproList(foxpro); });
    trap.step(110, [&] { app.mainWindow.fillMySqlList(); });
    bool shown = trap.step(112, [&] { app.mainWindow.show(); });
    // Hiding this window while the main window failed to appear would leave no window at all.
    if (shown) {
      trap.step(114, [&] {
        hide();
        movedToMainWindow_ = true;
      });
    }
  }
  trap.step(116, [&] { pointer_->setNormal(); });
}

void Form1::TestConnection(const char* handler, const char* failed,
                           const std::function<bool(ado::Connection&)>& open) {
  ErrorTrap trap(kWhere, handler, this);
  std::unique_ptr<ado::Connection> cn;
  trap.step(100, [&] { cn = std::make_unique<ado::Connection>(); });
  bool connected = false;
  try {
    pointer_->setWait();
    if (!cn) throw platform::Error(QStringLiteral("No connection object."));
    connected = open(*cn);
  } catch (const platform::ProgramEnding&) {
    return;  // nothing to tell a program that is ending
  } catch (...) {
    // Refused login, unknown host, wrong port, missing folder: one message for all of them.
  }
  // The connection stays open until the message is answered.
  MsgBox(QLatin1String(connected ? Form1Texts::kConnectionSuccessful : failed), platform::vbOKOnly,
         {}, this);
  pointer_->setNormal();
  cn.reset();
}

void Form1::PushButton3_Click() {
  TestConnection("PushButton3_Click", Form1Texts::kFoxproCouldNotConnect, Foxpro::OpenFoxpro);
}

void Form1::PushButton6_Click() {
  // The window answers while the server is reached (up to the connect limit for a host that
  // does not answer); meanwhile neither this test nor "Next >" starts again.
  if (nextRunning_) return;
  const QScopedValueRollback<bool> running(nextRunning_, true);
  TestConnection("PushButton6_Click", Form1Texts::kMySqlCouldNotConnect, [](ado::Connection& cn) {
    // Draw the hourglass before connecting.
    platform::DoEvents();
    return Foxpro::OpenMySQL(cn, platform::YieldWhileWaiting);
  });
}

void Form1::PushButton10_Click() {
  ErrorTrap trap(kWhere, "PushButton10_Click", this);
  trap.step(100, [&] { MsgBox(Form1Texts::FoxproHelp(), platform::vbOKOnly, {}, this); });
}

void Form1::PushButton1_Click() {
  ErrorTrap trap(kWhere, "PushButton1_Click", this);
  trap.step(100, [&] { MsgBox(Form1Texts::MySqlHelp(), platform::vbOKOnly, {}, this); });
}

void Form1::PushButton4_Click() {
  ErrorTrap trap(kWhere, "PushButton4_Click", this);
  QString folder;
  // The chooser starts at its default place every time, not at the current folder.
  trap.step(100, [&] {
    folder = AddFolder::BrowseForFolder(this, QStringLiteral("Please select folder:"), QString());
  });
  trap.step(102, [&] {
    if (!folder.isEmpty()) Text2->setText(folder);
  });
}

void Form1::PushButton5_Click() {
  ErrorTrap trap(kWhere, "PushButton5_Click", this);
  QString file;
  trap.step(100, [&] {
    platform::FileDialogRequest request;
    request.title = QStringLiteral("Select Foxpro Database");
    request.filter = QStringLiteral("Microsoft Database (*.dbc)|*.dbc|");
    file = platform::Application::current().dialogs().openFile(this, request);
  });
  trap.step(102, [&] {
    if (!file.isEmpty()) Text1->setText(file);
  });
}

void Form1::Option1_Click() { platform::Settings::setValue(kFoxproOption, QStringLiteral("1")); }

void Form1::Option2_Click() { platform::Settings::setValue(kFoxproOption, QStringLiteral("2")); }

QString Form1::settingsKey(const QLineEdit* box) const {
  if (box == Text1) return QLatin1String(kDbcFile);
  if (box == Text2) return QLatin1String(kFreeTableFolder);
  if (box == Text3) return QLatin1String(kMySqlServer);
  if (box == Text4) return QLatin1String(kMySqlPort);
  if (box == Text5) return QLatin1String(kMySqlUser);
  if (box == Text6) return QLatin1String(kMySqlPassword);
  return QLatin1String(kMySqlDatabase);
}

void Form1::Text_Change(QLineEdit* box) {
  platform::Settings::setValue(settingsKey(box), box->text());
}

void Form1::Text_GotFocus(QLineEdit* box) {
  box->setSelection(0, static_cast<int>(box->text().size()));
}

void Form1::Form_Unload() { platform::Application::current().quit(); }

void Form1::closeEvent(QCloseEvent* event) {
  event->accept();
  Form_Unload();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (auto* box = qobject_cast<QLineEdit*>(watched)) {
      Text_GotFocus(box);
      // A click that gave the focus would place the caret after this; select once it is done.
      if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) {
        QTimer::singleShot(0, box, [this, box] { Text_GotFocus(box); });
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}
