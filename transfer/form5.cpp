#include "transfer/form5.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringMatcher>

#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "transfer/form4.h"

using platform::ErrorTrap;
using platform::TwipsRect;
using Hover = platform::WindowPointer::Hover;

namespace {

constexpr int kClientWidth = 8040;
constexpr int kClientHeight = 1590;
constexpr const char* kWhere = "Form5";

}  // namespace

QString transfer::ReplaceAll(const QString& text, const QString& find, const QString& replacement) {
  if (find.isEmpty()) return text;
  // One pass over the text, appending as it goes: a script of a million lines has a million
  // matches, and replacing them in place would move the rest of the text each time.
  QStringMatcher matcher(find, Qt::CaseSensitive);
  qsizetype at = matcher.indexIn(text, 0);
  if (at < 0) return text;
  QString result;
  result.reserve(text.size() + (replacement.size() > find.size() ? text.size() / 8 : 0));
  qsizetype from = 0;
  while (at >= 0) {
    result.append(QStringView(text).mid(from, at - from));
    result.append(replacement);
    from = at + find.size();
    at = matcher.indexIn(text, from);
  }
  result.append(QStringView(text).mid(from));
  return result;
}

Form5::Form5(Form4& preview, QWidget* parent)
    : QDialog(parent ? parent : &preview), preview_(preview) {
  setObjectName(QStringLiteral("Form5"));
  setWindowTitle(QLatin1String(Form5Texts::kCaption));
  setModal(true);
  setFixedSize(platform::TwipsToPixels(kClientWidth), platform::TwipsToPixels(kClientHeight));
  setFont(platform::TextFont(true));

  Label1[0] = platform::Place(new QLabel(QStringLiteral("Find what:"), this), "Label1_0", 120, 165,
                              855, 225);
  Text1 = platform::Place(new QLineEdit(this), "Text1", 1440, 120, 6480, 375);
  Label1[1] = platform::Place(new QLabel(QStringLiteral("Replace with:"), this), "Label1_1", 120,
                              645, 1140, 225);
  Text2 = platform::Place(new QLineEdit(this), "Text2", 1440, 600, 6480, 375);
  PushButton3 = platform::MakeButton(this, "PushButton3", "Replace All", 120, 1080, 3840, 405);
  PushButton1 = platform::MakeButton(this, "PushButton1", "Cancel", 4080, 1080, 3840, 405);
  // The labels are wider than the design in Qt's font metrics; let them use the room up to
  // their boxes.
  for (QLabel* l : Label1) l->resize(std::max(l->width(), Text1->x() - l->x() - 2), l->height());

  setTabOrder(Text1, Text2);
  setTabOrder(Text2, PushButton3);
  setTabOrder(PushButton3, PushButton1);

  pointer_ = new platform::WindowPointer(*this);
  pointer_->watch(PushButton3, Hover::Button);
  pointer_->watch(PushButton1, Hover::Button);
  for (QWidget* w :
       {static_cast<QWidget*>(this), static_cast<QWidget*>(Text1), static_cast<QWidget*>(Text2),
        static_cast<QWidget*>(Label1[0]), static_cast<QWidget*>(Label1[1])}) {
    pointer_->watch(w, Hover::Background);
  }

  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });

  Form_Load();
}

Form5::~Form5() = default;

void Form5::Form_Load() {
  ErrorTrap trap(kWhere, "Form_Load", this);
  auto& app = platform::Application::current();
  trap.step(100, [&] { Main::ApplyFormColors(*this); });
  trap.step(102, [&] { setWindowIcon(app.icon()); });
  trap.step(104, [&] { platform::LoadHandPointer(*pointer_); });
}

void Form5::PushButton3_Click() {
  ErrorTrap trap(kWhere, "PushButton3_Click", this);
  if (Text1->text().isEmpty() || Text2->text().isEmpty()) {
    trap.step(100, [&] {
      platform::MsgBox(QLatin1String(Form5Texts::kFillBoth), platform::vbOKOnly, {}, this);
    });
    return;
  }
  trap.step(102, [&] {
    QString before = preview_.Script();
    QString after = transfer::ReplaceAll(before, Text1->text(), Text2->text());
    // Nothing matched: the preview keeps its text, its caret and its undo history.
    if (after.size() != before.size() || after != before) preview_.SetScript(after);
  });
  trap.step(104, [&] { accept(); });
}

void Form5::PushButton1_Click() {
  ErrorTrap trap(kWhere, "PushButton1_Click", this);
  trap.step(100, [&] { reject(); });
}
