#include "preview/form5.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <limits>

#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "preview/form4.h"

using platform::ErrorTrap;
using platform::TwipsRect;
using Hover = platform::WindowPointer::Hover;

namespace {

constexpr int kClientWidth = 8040;
constexpr int kClientHeight = 1590;
constexpr const char* kWhere = "Form5";

}  // namespace

QString transfer::ReplaceAll(const QString& text, const QString& find, const QString& replacement) {
  StepwiseReplace replace(text.toUtf8(), find.toUtf8(), replacement.toUtf8());
  while (replace.step(std::numeric_limits<qsizetype>::max() / 2)) {
  }
  return QString::fromUtf8(replace.take());
}

transfer::StepwiseReplace::StepwiseReplace(QByteArray text, QByteArray find, QByteArray replacement)
    : text_(std::move(text)),
      find_(std::move(find)),
      replacement_(std::move(replacement)),
      matcher_(find_) {}

bool transfer::StepwiseReplace::step(qsizetype bytes) {
  if (find_.isEmpty()) return false;
  const qsizetype n = text_.size();
  if (scanned_ >= n) return false;
  // Matches starting before `limit` are this slice's; the view reaches one match length
  // further so that a match crossing the limit is seen whole.
  const qsizetype limit = bytes >= n - scanned_ ? n : scanned_ + bytes;
  const QByteArrayView view = QByteArrayView(text_).first(std::min(n, limit + find_.size() - 1));
  qsizetype at = matcher_.indexIn(view, scanned_);
  while (at >= 0 && at < limit) {
    if (matches_ == 0) {
      // One pass, appending as it goes: a million matches replaced in place would move the
      // rest of the text each time.
      result_.reserve(n + (replacement_.size() > find_.size() ? n / 8 : 0));
    }
    ++matches_;
    result_.append(QByteArrayView(text_).sliced(from_, at - from_));
    result_.append(replacement_);
    from_ = at + find_.size();
    at = matcher_.indexIn(view, from_);
  }
  // Where the next slice starts: after the last replaced text, or at the limit.
  scanned_ = std::max(limit, from_);
  return scanned_ < n;
}

QByteArray transfer::StepwiseReplace::take() {
  if (matches_ == 0) return std::move(text_);
  result_.append(QByteArrayView(text_).sliced(from_));
  from_ = text_.size();
  return std::move(result_);
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
  bool finished = false;
  trap.step(102, [&] {
    QPointer<Form5> self(this);
    auto& app = platform::Application::current();
    // The window answers between slices. The buttons wait meanwhile, so a second click cannot
    // start a second replacement; closing the dialog abandons it.
    PushButton3->setEnabled(false);
    PushButton1->setEnabled(false);
    bool abandoned = false;
    preview_.ReplaceInScript(Text1->text(), Text2->text(), [&] {
      platform::DoEvents();
      abandoned = !self || !isVisible() || app.ending();
      return !abandoned;
    });
    if (abandoned || !self) return;
    PushButton3->setEnabled(true);
    PushButton1->setEnabled(true);
    finished = true;
  });
  if (!finished) return;
  trap.step(104, [&] { accept(); });
}

void Form5::PushButton1_Click() {
  ErrorTrap trap(kWhere, "PushButton1_Click", this);
  trap.step(100, [&] { reject(); });
}
