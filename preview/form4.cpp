#include "preview/form4.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/pointer.h"
#include "platform/ui.h"
#include "preview/buffers/large_buffers.h"
#include "preview/form5.h"
#include "preview/script_editor.h"
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
// Bytes moved into the editor at a time: a few milliseconds of work, and an ordinary script
// arrives in one piece when the window opens.
constexpr qsizetype kPieceBytes = 1 << 20;
// Bytes searched by find and replace between two answers of the window.
constexpr qsizetype kSliceBytes = 4 << 20;
// The largest text whose memory is made ready ahead of need.
constexpr long long kMostBytesPrepared = 1LL << 30;
// A run lets the window answer at least this often (milliseconds), and whenever the bar moves.
constexpr qint64 kRunYieldMs = 15;

// The connection string for the preview's target: 0 the FoxPro database, 1 the MySQL database,
// built from the connection window's fields when called; any other value has no target.
std::function<std::string()> ScriptTarget(qint16 sendType) {
  if (sendType == 0) return [] { return FoxproConnectionString(); };
  if (sendType == 1) return [] { return MySQLConnectionString(); };
  return {};
}

}  // namespace

Form4::Form4(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QLatin1String(Form4Texts::kCaption));
  setModal(true);
  setFixedSize(platform::TwipsToPixels(kClientWidth), platform::TwipsToPixels(kClientHeight));
  setFont(platform::TextFont(true));

  Frame1 = platform::MakeFrame(this, "Frame1", "Preview SQL Commands Before Execution", 120, 120,
                               7800, 6975);
  RichTextBox1 =
      platform::Place(new transfer::ScriptEditor(Frame1), "RichTextBox1", 240, 300, 7335, 6495);
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

  connect(RichTextBox1, &transfer::ScriptEditor::aboutToChange, this, [this] {
    if (runLines_) runLines_->detach();
  });
  connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
  connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });

  Form_Load();
}

Form4::~Form4() {
  if (expected_ > 0) transfer::buffers::Discard();
}

void Form4::Form_Load() {
  ErrorTrap trap(kWhere, "Form_Load", this);
  auto& app = platform::Application::current();
  trap.step(100, [&] { Main::ApplyFormColors(*this); });
  trap.step(102, [&] { setWindowIcon(app.icon()); });
  trap.step(104, [&] { platform::LoadHandPointer(*pointer_); });
}

void Form4::AppendCommand(const QString& command) {
  appendLine(transfer::WithCrLf(command).toUtf8());
}

void Form4::AppendCommandUtf8(std::string_view command) {
  const QByteArrayView bytes(command.data(), static_cast<qsizetype>(command.size()));
  // A line break inside, or bytes that are not UTF-8, take the way through QString, which
  // writes them as every other way into the editor does.
  if (bytes.contains('\r') || bytes.contains('\n') || !bytes.isValidUtf8()) {
    AppendCommand(QString::fromUtf8(bytes));
    return;
  }
  appendLine(bytes);
}

void Form4::appendLine(QByteArrayView utf8) {
  QByteArray& to = waiting_ ? *waiting_ : pending_;
  to.append(utf8);
  to.append("\r\n", 2);
  if (waiting_) return;
  if (isVisible()) {
    scheduleLoading();
  } else if (pending_.size() - pendingAt_ >= kPieceBytes && !roomComing()) {
    // While the script is being built the editor takes it a megabyte at a time, so no second
    // copy of a large script is ever held. While its room is being made ready the text waits
    // here instead: the editor would grow on its own meanwhile, each step copying all it holds
    // into fresh memory on the window's thread (a quarter second and more at 50 MB on a busy
    // machine). What waited then goes in a piece per line added, answering between pieces.
    loadNextPiece(true);
  }
}

bool Form4::roomComing() const { return expected_ > 0 && !transfer::buffers::Ready(); }

void Form4::WithdrawCommands(long long count) {
  if (count <= 0) return;
  QByteArray& text = waiting_ ? *waiting_ : pending_;
  const qsizetype first = waiting_ ? 0 : pendingAt_;
  // Every appended line ends in CR LF.
  qsizetype end = text.size();
  while (count > 0 && end > first) {
    const qsizetype lf = end >= 3 ? text.lastIndexOf('\n', end - 3) : -1;
    end = lf + 1 > first ? lf + 1 : first;
    --count;
  }
  text.truncate(end);
  if (count == 0 || waiting_) return;
  // The editor's text ends in a line break, so its last line is the empty one after it.
  const qsizetype lines = RichTextBox1->lineCount() - 1;
  RichTextBox1->truncate(RichTextBox1->lineStart(std::max<qsizetype>(0, lines - count)));
}

void Form4::ExpectBytes(long long bytes) {
  if (bytes <= 0 || replacing_) return;
  prepareRoom(RichTextBox1->length() + (pending_.size() - pendingAt_) + bytes);
  // The text that waits for the room (appendLine) gets room of its own at once, untouched until
  // written: growing, it would copy all that waits into fresh memory as the editor did.
  if (roomComing() && !isVisible() && !waiting_)
    pending_.reserve(pending_.size() + static_cast<qsizetype>(bytes));
}

void Form4::prepareRoom(long long total) {
  // Memory touched ahead of need is only worth it while it surely fits; beyond that the editor
  // grows as it goes.
  if (total > kMostBytesPrepared) return;
  // The room is made once memory for it is ready, so the window never waits for it.
  expected_ = total;
  transfer::buffers::Prepare(static_cast<std::size_t>(total));
}

void Form4::makeRoomWhenReady() {
  if (expected_ == 0 || !transfer::buffers::Ready()) return;
  RichTextBox1->reserve(expected_);
  expected_ = 0;
  // Left over when the editor had already grown past it.
  transfer::buffers::Discard();
}

void Form4::AddJob(std::unique_ptr<transfer::ScriptJob> job) {
  if (job) jobs_.push_back(std::move(job));
}

QString Form4::Script() const {
  QString text = RichTextBox1->text();
  if (loading()) text += QString::fromUtf8(QByteArrayView(pending_).sliced(pendingAt_));
  // Typed or inserted text may hold a lone CR or LF; the editor ends lines there too.
  return transfer::WithCrLf(text);
}

void Form4::SetScript(const QString& script) { setScriptUtf8(transfer::WithCrLf(script).toUtf8()); }

void Form4::setScriptUtf8(QByteArray script) {
  if (replacing_) {
    // Find and replace reads the editor's bytes where they lie; the new text waits for its end.
    waiting_ = std::move(script);
    return;
  }
  RichTextBox1->clearAll();
  pending_ = std::move(script);
  pendingAt_ = 0;
  if (pending_.size() > kPieceBytes) prepareRoom(pending_.size());
  if (isVisible()) loadNextPiece();
}

bool Form4::ReplaceInScript(const QString& find, const QString& replacement,
                            const std::function<bool()>& pause) {
  if (replacing_ || find.isEmpty()) return false;
  QPointer<Form4> self(this);
  if (!finishLoading(pause) || !self) return false;
  replacing_ = true;
  const bool readOnly = RichTextBox1->isReadOnly();
  RichTextBox1->setReadOnly(true);
  // The editor does not change while it is searched (read-only, nothing loading, SetScript
  // waits), so its bytes are read in place.
  const std::string_view text = RichTextBox1->utf8();
  transfer::StepwiseReplace replace(
      QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())), find.toUtf8(),
      replacement.toUtf8());
  bool finished = true;
  while (replace.step(kSliceBytes)) {
    if (!pause() || !self) {
      finished = false;
      break;
    }
  }
  if (!self) return false;
  replacing_ = false;
  RichTextBox1->setReadOnly(readOnly);
  const bool changed = finished && replace.changed();
  // Nothing matched: the editor keeps its text, its caret and its undo history.
  if (changed) setScriptUtf8(replace.take());
  if (waiting_) {
    QByteArray waiting = std::move(*waiting_);
    waiting_.reset();
    setScriptUtf8(std::move(waiting));
  }
  return changed;
}

bool Form4::finishLoading(const std::function<bool()>& pause) {
  QPointer<Form4> self(this);
  while (self && loading()) {
    loadNextPiece();
    if (loading() && !pause()) return false;
  }
  return self;
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

void Form4::loadNextPiece(bool onePiece) {
  if (!loading() || replacing_) return;
  qsizetype end = pendingAt_ + kPieceBytes;
  // A hidden window takes all that waits, unless asked for one piece: nobody is there to be
  // answered between pieces.
  if (end >= pending_.size() || (!isVisible() && !onePiece)) {
    end = pending_.size();
  } else {
    // Pieces end after a line break so no line or character is split between two of them.
    qsizetype lf = pending_.indexOf('\n', end);
    end = lf < 0 ? pending_.size() : lf + 1;
  }
  const bool first = RichTextBox1->length() == 0;
  // The user types into the editor once it holds the whole script, not between pieces.
  RichTextBox1->setUndoCollection(false);
  RichTextBox1->setReadOnly(true);
  makeRoomWhenReady();
  RichTextBox1->appendUtf8(pending_.constData() + pendingAt_, end - pendingAt_);
  pendingAt_ = end;
  if (first) RichTextBox1->goToStart();
  if (loading()) {
    if (isVisible()) scheduleLoading();
    return;
  }
  pending_ = QByteArray();
  pendingAt_ = 0;
  RichTextBox1->emptyUndoBuffer();
  RichTextBox1->setUndoCollection(true);
  RichTextBox1->setReadOnly(false);
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
  QElapsedTimer sinceYield;
  sinceYield.start();
  int shownPercent = -1;
  auto progress = [&](int percent) {
    if (!self) return false;
    // Answering the window before each of a million lines would cost more than the lines.
    if (percent != shownPercent || sinceYield.elapsed() >= kRunYieldMs) {
      ProgressBar1->setValue(percent);
      shownPercent = percent;
      platform::DoEvents();
      sinceYield.restart();
    }
    return self && !stopRequested_ && !app.ending();
  };
  // The run reads the lines in the editor, which holds them all first.
  if (!finishLoading([&] { return progress(0); })) {
    if (self) {
      running_ = false;
      pointer_->setNormal();
    }
    return;
  }
  auto target = ScriptTarget(m_SendType);
  // The jobs leave the window for the run, so nothing the run uses goes with a discarded window.
  std::vector<std::unique_ptr<transfer::ScriptJob>> jobs = std::move(jobs_);
  jobs_.clear();
  std::vector<transfer::ScriptJob*> runJobs;
  for (auto& j : jobs) runJobs.push_back(j.get());

  // Edits made meanwhile do not change the run: before the editor's text changes, the lines
  // still to run are copied (see EditorLines).
  transfer::EditorLines lines(RichTextBox1);
  runLines_ = &lines;
  // While the server works on a line the window answers too (running_ keeps a second run from
  // starting); a stop takes effect after that line. The database keeps its own copy of a line.
  auto waiting = [&] {
    if (self) platform::DoEvents();
  };
  transfer::ScriptOutcome outcome =
      transfer::ExecuteScript(lines, target, runJobs, progress, waiting);

  if (!self) return;
  runLines_ = nullptr;
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
