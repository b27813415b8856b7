#include "transfer/form4.h"

#include <QGroupBox>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "transfer/form5.h"
#include "transfer/script_file.h"
#include "transfer/script_runner.h"

using platform::ErrorTrap;
using platform::MsgBox;
using platform::TwipsRect;
using Hover = platform::WindowPointer::Hover;

namespace transfer {

namespace {
bool scriptExecuted = false;
}

bool ScriptExecuted() { return scriptExecuted; }
void SetScriptExecuted() { scriptExecuted = true; }

}  // namespace transfer

namespace {

constexpr int kClientWidth = 8040;
constexpr int kClientHeight = 10545;
constexpr const char* kWhere = "Form4";
// Characters moved into the editor at a time; small enough that one piece takes well under a
// second, large enough that an ordinary script arrives in one piece when the window opens.
constexpr qsizetype kPieceChars = 1 << 18;
// From this many lines on, an editor is emptied by replacing its document.
constexpr int kFreshDocumentBlocks = 10000;

}  // namespace

Form4::Form4(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QLatin1String(Form4Texts::kCaption));
  setModal(true);
  setFixedSize(platform::TwipsToPixels(kClientWidth), platform::TwipsToPixels(kClientHeight));
  setFont(platform::TextFont(true));

  Frame1 = platform::MakeFrame(this, "Frame1", "Preview SQL Commands Before Execution", 120, 120,
                               7800, 6975);
  RichTextBox1 = platform::Place(new QPlainTextEdit(Frame1), "RichTextBox1", 240, 300, 7335, 6495);
  RichTextBox1->setLineWrapMode(QPlainTextEdit::NoWrap);
  PushButton3 =
      platform::MakeButton(this, "PushButton3", "Execute SQL Commands Now", 120, 7210, 3840, 405);
  PushButton1 =
      platform::MakeButton(this, "PushButton1", "Find and Replace", 4080, 7210, 3840, 405);
  PushButton2 = platform::MakeButton(this, "PushButton2", "Save SQL Commands As Text File", 120,
                                     7730, 3840, 405);
  PushButton4 = platform::MakeButton(this, "PushButton4", "Copy SQL Commands To Clipboard", 4080,
                                     7730, 3840, 405);
  Frame2 = platform::MakeFrame(this, "Frame2", "Notes", 120, 8220, 7800, 1695);
  Text1 = platform::Place(new QPlainTextEdit(Frame2), "Text1", 240, 300, 7335, 1215);
  ProgressBar1 = platform::Place(new QProgressBar(this), "ProgressBar1", 120, 10020, 7800, 405);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setFormat(QStringLiteral("Progress Bar"));

  QWidget* order[] = {RichTextBox1, PushButton3, PushButton1, PushButton2,
                      PushButton4,  Frame1,      Frame2,      Text1};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  pointer_ = new platform::WindowPointer(*this);
  for (QWidget* b : {PushButton1, PushButton2, PushButton3, PushButton4}) {
    pointer_->watch(b, Hover::Button);
  }
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Frame1),
                     static_cast<QWidget*>(Frame2), RichTextBox1->viewport()}) {
    pointer_->watch(w, Hover::Background);
  }

  connect(RichTextBox1->document(), &QTextDocument::contentsChange, this,
          [this](int, int, int) { editorChanged(); });
  connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
  connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });

  Form_Load();
}

Form4::~Form4() = default;

void Form4::Form_Load() {
  ErrorTrap trap(kWhere, "Form_Load", this);
  auto& app = platform::Application::current();
  trap.step(100, [&] { Main::ApplyFormColors(*this); });
  trap.step(102, [&] { setWindowIcon(app.icon()); });
  trap.step(104, [&] { platform::LoadHandPointer(*pointer_); });
}

void Form4::AppendCommand(const QString& command) {
  if (edited_) {
    text_ = editorText();
    loaded_ = text_.size();
    edited_ = false;
  }
  text_ += transfer::WithCrLf(command);
  text_ += QLatin1String("\r\n");
  if (isVisible()) scheduleLoading();
}

void Form4::AddJob(std::unique_ptr<transfer::ScriptJob> job) {
  if (job) jobs_.push_back(std::move(job));
}

bool Form4::loading() const { return !edited_ && loaded_ < text_.size(); }

QString Form4::editorText() const {
  // The raw text keeps every character as typed (the plain-text view would turn non-breaking
  // spaces into blanks); blocks are separated by the paragraph separator.
  QString raw = RichTextBox1->document()->toRawText();
  const QChar* data = raw.constData();
  const qsizetype n = raw.size();
  QString out;
  out.reserve(n + n / 32 + 16);
  qsizetype from = 0;
  for (qsizetype i = 0; i < n; ++i) {
    if (data[i] != QChar(QChar::ParagraphSeparator)) continue;
    out.append(data + from, i - from);
    out.append(QLatin1String("\r\n"));
    from = i + 1;
  }
  out.append(data + from, n - from);
  return out;
}

QString Form4::Script() const {
  if (!edited_) return text_;
  return editorText();
}

void Form4::SetScript(const QString& script, bool crLfOnly) {
  text_ = crLfOnly ? script : transfer::WithCrLf(script);
  loaded_ = 0;
  edited_ = false;
  emptyEditor();
  if (isVisible()) loadNextPiece();
}

void Form4::emptyEditor() {
  // Clearing a large document removes every line with the notifications that go with it; a
  // fresh document takes its place instead and the old one is freed, about a third faster.
  QTextDocument* old = RichTextBox1->document();
  if (old->blockCount() < kFreshDocumentBlocks) {
    filling_ = true;
    RichTextBox1->clear();
    filling_ = false;
    return;
  }
  auto* doc = new QTextDocument(RichTextBox1);
  doc->setDocumentLayout(new QPlainTextDocumentLayout(doc));
  doc->setDefaultFont(old->defaultFont());
  doc->setDocumentMargin(old->documentMargin());
  // The editor would delete a document it owns as it lets go of it; the old one is kept out
  // of its hands and freed here.
  old->setParent(nullptr);
  filling_ = true;
  RichTextBox1->setDocument(doc);
  filling_ = false;
  connect(doc, &QTextDocument::contentsChange, this, [this](int, int, int) { editorChanged(); });
  delete old;
}

void Form4::editorChanged() {
  if (filling_) return;
  edited_ = true;
  // Someone replaced the text while pieces were still arriving: the editor is theirs now.
  if (RichTextBox1->isReadOnly()) {
    RichTextBox1->setReadOnly(false);
    RichTextBox1->setUndoRedoEnabled(true);
  }
}

void Form4::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The first piece arrives with the window, so an ordinary script is there at once.
  if (loading()) loadNextPiece();
}

void Form4::scheduleLoading() {
  if (loadScheduled_ || !loading()) return;
  loadScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    loadScheduled_ = false;
    loadNextPiece();
  });
}

void Form4::loadNextPiece() {
  if (!loading()) return;
  qsizetype end = loaded_ + kPieceChars;
  if (end >= text_.size()) {
    end = text_.size();
  } else {
    // Pieces end after a line break so no line is split between two of them.
    qsizetype lf = text_.indexOf(QLatin1Char('\n'), end);
    end = lf < 0 ? text_.size() : lf + 1;
  }
  bool first = loaded_ == 0;
  RichTextBox1->setUndoRedoEnabled(false);
  // The user types into the editor once it holds the whole script, not between pieces.
  RichTextBox1->setReadOnly(true);
  filling_ = true;
  QTextCursor cursor(RichTextBox1->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QStringView(text_).mid(loaded_, end - loaded_).toString());
  filling_ = false;
  loaded_ = end;
  if (first) RichTextBox1->moveCursor(QTextCursor::Start);
  if (loading()) {
    scheduleLoading();
    return;
  }
  RichTextBox1->setReadOnly(false);
  RichTextBox1->setUndoRedoEnabled(true);
}

void Form4::done(int result) {
  // Closing the window during a run stops the run after the line it is on.
  if (running_) stopRequested_ = true;
  QDialog::done(result);
}

void Form4::PushButton1_Click() {
  ErrorTrap trap(kWhere, "PushButton1_Click", this);
  trap.step(100, [&] {
    Form5 dialog(*this);
    platform::ShowModal(dialog);
  });
}

void Form4::PushButton2_Click() {
  ErrorTrap trap(kWhere, "PushButton2_Click", this);
  auto& app = platform::Application::current();
  QString file;
  trap.step(100, [&] {
    platform::FileDialogRequest request;
    request.title = QLatin1String(Form4Texts::kSaveTitle);
    request.filter = QLatin1String(Form4Texts::kSaveFilter);
    request.confirmOverwrite = false;
    file = app.dialogs().saveFile(this, request);
  });
  if (file.isEmpty()) return;
  trap.step(102, [&] { pointer_->setWait(); });
  long long replaced = 0;
  trap.step(104,
            [&] { replaced = transfer::SaveScriptFile(file, Script() + QLatin1String("\r\n")); });
  trap.step(106, [&] {
    if (!running_) pointer_->setNormal();
  });
  if (replaced > 0) {
    trap.step(108, [&] {
      MsgBox(transfer::SavedReplacementMessage(replaced), platform::vbOKOnly, {}, this);
    });
  }
}

void Form4::PushButton4_Click() {
  ErrorTrap trap(kWhere, "PushButton4_Click", this);
  trap.step(100, [&] { Main::ClearClipboard(); });
  trap.step(102, [&] { Main::CopyTextToClipboard(Script(), 0); });
  trap.step(104,
            [&] { MsgBox(QLatin1String(Form4Texts::kDataSent), platform::vbOKOnly, {}, this); });
}

void Form4::PushButton3_Click() {
  // A click while a run is going on (the window yields between lines) starts nothing; nor does
  // one while the run's closing message is up: a modal box does not stop a press that comes
  // through the accessibility interface, as a screen reader's does.
  if (running_ || executing_) return;
  QPointer<Form4> self(this);
  // The window may be gone when the click returns (closed during the run).
  struct Executing {
    QPointer<Form4> form;
    ~Executing() {
      if (form) form->executing_ = false;
    }
  } executing{self};
  executing_ = true;
  auto& app = platform::Application::current();
  running_ = true;
  stopRequested_ = false;
  {
    ErrorTrap trap(kWhere, "PushButton3_Click", this);
    trap.step(100, [&] { pointer_->setWait(); });
  }
  const QString script = Script();
  auto target = transfer::ScriptTarget(m_SendType);
  // The jobs leave the window for the run, so nothing the run uses goes with a discarded window.
  std::vector<std::unique_ptr<transfer::ScriptJob>> jobs = std::move(jobs_);
  jobs_.clear();
  std::vector<transfer::ScriptJob*> runJobs;
  for (auto& j : jobs) runJobs.push_back(j.get());

  auto progress = [&](int percent) {
    if (!self) return false;
    ProgressBar1->setValue(percent);
    platform::DoEvents();
    return self && !stopRequested_ && !app.ending();
  };
  // While the server works on a line the window answers too (running_ keeps a second run
  // from starting); a stop takes effect after that line.
  auto waiting = [&] {
    if (self) platform::DoEvents();
  };
  transfer::ScriptOutcome outcome =
      transfer::ExecuteScript(script, target, runJobs, progress, waiting);

  if (!self) return;
  running_ = false;
  for (auto& j : jobs_) jobs.push_back(std::move(j));
  jobs_ = std::move(jobs);
  pointer_->setNormal();
  if (app.ending()) return;

  switch (outcome.end) {
    case transfer::ScriptOutcome::End::Stopped:
      return;
    case transfer::ScriptOutcome::End::Failed:
      Text1->setPlainText(outcome.notesText());
      MsgBox(QLatin1String(Form4Texts::kTransferProblem), platform::vbOKOnly, {}, this);
      return;
    case transfer::ScriptOutcome::End::Finished:
      transfer::SetScriptExecuted();
      if (!outcome.notes.isEmpty()) Text1->setPlainText(outcome.notesText());
      MsgBox(QLatin1String(Form4Texts::kTransferFinished), platform::vbOKOnly, {}, this);
      // Notes from the run keep the window open so they can be read; otherwise it has done
      // its work.
      if (self && outcome.notes.isEmpty() && !app.ending()) accept();
      return;
  }
}
