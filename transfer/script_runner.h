// Executing a preview script: the plain logic behind "Execute SQL Commands Now", without any
// window, so tests and benchmarks run it directly.
//
// The script is split at CR LF once, at the start, and those lines are what runs: edits made to
// the preview during a run change nothing. Every non-empty line is one command sent as it stands
// (not split at ";", not trimmed); empty lines are skipped. After each line that ran, every job
// that has not run yet and claims the line runs (see script_job.h). The first failing line or job
// ends the run; what ran before stays in effect (no transaction).
//
// On a MySQL server a run of consecutive lines that no job claims and that are each plainly one
// INSERT, UPDATE, DELETE or REPLACE (every quote closed on the line, no ";" and no comment outside
// quotes) is sent as one command of up to a thousand lines, so a sync's thousands of one-row
// statements do not wait for the server one by one. Each line is still its own statement: the
// first that fails ends the run as the failing line with the server's own message, the lines
// after it do not run, and commandsRun counts the lines that ran. Multi statements are allowed
// for those commands only, so a line holding two statements fails as one command as before. A
// FoxPro target runs every line by itself.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/script_job.h"

namespace transfer {

// Where a run reads its lines: UTF-8 text, one command per line.
class ScriptSource {
 public:
  virtual ~ScriptSource() = default;
  virtual qsizetype lineCount() const = 0;
  // Line `index` without its line break; valid until the next call.
  virtual std::string_view line(qsizetype index) const = 0;
};

// The lines of a script held as a string, split at CR LF, read once. Keeps the text as UTF-8
// and where each line starts, so a million lines cost a few megabytes beyond the text itself.
class ScriptLines : public ScriptSource {
 public:
  explicit ScriptLines(const QString& text);  // empty text: no lines
  // The same, calling pause() after every stretch of about a million characters so a window
  // can answer while a long script is indexed; pause() returning false stops the indexing
  // (complete() is then false).
  ScriptLines(const QString& text, const std::function<bool()>& pause);
  bool complete() const { return complete_; }
  qsizetype size() const { return static_cast<qsizetype>(starts_.size()); }
  qsizetype lineCount() const override { return size(); }
  std::string_view line(qsizetype index) const override;

 private:
  QByteArray text_;
  std::vector<qsizetype> starts_;
  bool complete_ = true;
};

// The text with every line break (CR LF, a lone CR, a lone LF) written as CR LF; in one pass,
// and without copying when it has no other kind of break.
QString WithCrLf(const QString& text);

// The progress bar value before line `index` of `count`: 0 before the first line, 100 before
// the last, 100 throughout a one-line script.
int LineProgress(long long index, long long count);

struct ScriptOutcome {
  enum class End {
    Finished,  // every line ran: the script counts as executed
    Failed,    // a line or a job failed; the run ended there
    Stopped,   // the caller asked to stop (window closed, program ending)
  };
  End end = End::Finished;
  bool hasFailingLine = false;  // false when the run failed before any line was current
  QString failingLine;
  QString error;      // the database's or the job's own description
  QStringList notes;  // things the user should know that did not stop the run
  long long commandsRun = 0;
  // What did not arrive as it was, counted for callers that must say so (the notes say it in
  // words): rows refused and values changed by the jobs that ran, characters the target wrote
  // as "?", and jobs that did not run because their line was no longer in the script.
  long long rowsRefused = 0;
  long long valuesChanged = 0;
  long long charactersReplaced = 0;
  int jobsSkipped = 0;

  // What the Notes box shows after a failure: the failing line, CR LF, the description, then
  // any notes, one per line; after a finished run: the notes alone.
  QString notesText() const;
};

// Runs the script.
// - connectionString: called once, at the start, to reach the target; an empty function means
//   the script has no target: nothing runs and the run finishes (a failure to build the string
//   or to open the connection fails the run before any line).
// - jobs: not owned; each runs at most once.
// - progress(percent): called before every line, or before every run of lines sent as one
//   command with the value of its first line (and as jobs go); it may let the window repaint
//   and returns false when the run must stop. Checked again before every line or such run, so a
//   stop takes effect after the line, run of lines or job that was running.
// - waiting: given to the target connection (ado::Connection::setWaiting), so the window answers
//   while the server works on a line or on a job's rows; empty: those calls block.
ScriptOutcome ExecuteScript(const ScriptSource& script,
                            const std::function<std::string()>& connectionString,
                            const std::vector<ScriptJob*>& jobs,
                            const std::function<bool(int percent)>& progress,
                            const std::function<void()>& waiting = {});
// The same for a script held as a string (lines split at CR LF); indexing it reports progress 0.
ScriptOutcome ExecuteScript(const QString& script,
                            const std::function<std::string()>& connectionString,
                            const std::vector<ScriptJob*>& jobs,
                            const std::function<bool(int percent)>& progress,
                            const std::function<void()>& waiting = {});

// Notes texts.
QString SkippedJobNote(const std::string& table);
QString ReplacedCharactersNote(long long count);

}  // namespace transfer
