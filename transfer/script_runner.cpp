#include "transfer/script_runner.h"

#include <algorithm>
#include <memory>

#include "ado/dataaccess.h"
#include "core/error.h"

namespace transfer {

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ScriptLines::ScriptLines(const QString& text) : ScriptLines(text, {}) {}

ScriptLines::ScriptLines(const QString& text, const std::function<bool()>& pause)
    : text_(text.toUtf8()) {
  if (text_.isEmpty()) return;
  constexpr qsizetype kStretch = 1 << 20;
  const QByteArrayView lineBreak("\r\n");
  starts_.push_back(0);
  qsizetype from = 0;
  qsizetype nextPause = kStretch;
  while (true) {
    qsizetype at = text_.indexOf(lineBreak, from);
    if (at < 0) break;
    from = at + lineBreak.size();
    starts_.push_back(from);
    if (pause && from >= nextPause) {
      nextPause = from + kStretch;
      if (!pause()) {
        complete_ = false;
        return;
      }
    }
  }
}

std::string_view ScriptLines::line(qsizetype index) const {
  qsizetype start = starts_[static_cast<std::size_t>(index)];
  qsizetype end =
      index + 1 < size() ? starts_[static_cast<std::size_t>(index + 1)] - 2 : text_.size();
  return {text_.constData() + start, static_cast<std::size_t>(end - start)};
}

QString WithCrLf(const QString& text) {
  const QChar* data = text.constData();
  const qsizetype n = text.size();
  qsizetype lone = 0;
  for (qsizetype i = 0; i < n; ++i) {
    if (data[i] == u'\r') {
      if (i + 1 < n && data[i + 1] == u'\n') {
        ++i;
      } else {
        ++lone;
      }
    } else if (data[i] == u'\n') {
      ++lone;
    }
  }
  if (lone == 0) return text;
  QString out;
  out.reserve(n + lone);
  qsizetype from = 0;
  for (qsizetype i = 0; i < n; ++i) {
    if (data[i] == u'\r') {
      if (i + 1 < n && data[i + 1] == u'\n') {
        ++i;
        continue;
      }
    } else if (data[i] != u'\n') {
      continue;
    }
    out.append(data + from, i - from);
    out.append(kLineBreak);
    from = i + 1;
  }
  out.append(data + from, n - from);
  return out;
}

int LineProgress(long long index, long long count) {
  if (count <= 1) return 100;
  return static_cast<int>(std::clamp(index * 100 / (count - 1), 0LL, 100LL));
}

QString ScriptOutcome::notesText() const {
  QStringList parts;
  if (end == End::Failed) {
    parts << (hasFailingLine ? failingLine + kLineBreak + error : error);
  }
  parts << notes;
  return parts.join(kLineBreak);
}

std::string ScriptJob::skippedNote() const { return SkippedJobNote(table()).toStdString(); }

QString SkippedJobNote(const std::string& table) {
  return QStringLiteral(
             "The rows of table %1 were not copied: the line that creates it is no longer in "
             "the script.")
      .arg(QString::fromStdString(table));
}

QString ReplacedCharactersNote(long long count) {
  if (count == 1) {
    return QStringLiteral(
        "1 character that the FoxPro table's code page cannot hold was written as \"?\".");
  }
  return QStringLiteral(
             "%1 characters that the FoxPro tables' code page cannot hold were written as "
             "\"?\".")
      .arg(count);
}

ScriptOutcome ExecuteScript(const QString& script,
                            const std::function<std::string()>& connectionString,
                            const std::vector<ScriptJob*>& jobs,
                            const std::function<bool(int percent)>& progress,
                            const std::function<void()>& waiting) {
  const ScriptLines lines(script, [&] { return progress(0); });
  if (!lines.complete()) {
    ScriptOutcome out;
    out.end = ScriptOutcome::End::Stopped;
    return out;
  }
  return ExecuteScript(lines, connectionString, jobs, progress, waiting);
}

ScriptOutcome ExecuteScript(const ScriptSource& lines,
                            const std::function<std::string()>& connectionString,
                            const std::vector<ScriptJob*>& jobs,
                            const std::function<bool(int percent)>& progress,
                            const std::function<void()>& waiting) {
  ScriptOutcome out;
  const qsizetype count = lines.lineCount();
  std::vector<bool> ran(jobs.size(), false);
  std::vector<std::size_t> unsettled;  // jobs that ran and whose work is not complete yet
  std::size_t pendingJobs = jobs.size();
  std::unique_ptr<ado::Connection> cn;
  qsizetype current = -1;

  auto fail = [&](const QString& error) {
    out.end = ScriptOutcome::End::Failed;
    out.hasFailingLine = current >= 0;
    if (out.hasFailingLine) out.failingLine = fromUtf8(lines.line(current));
    out.error = error;
  };
  auto replacedNote = [&] {
    long long replaced = 0;
    try {
      if (cn) replaced = cn->charactersReplaced();
    } catch (...) {
    }
    out.charactersReplaced = replaced;
    if (replaced > 0) out.notes << ReplacedCharactersNote(replaced);
  };
  auto countLosses = [&](const ScriptJob& job) {
    const ScriptJob::Losses lost = job.losses();
    out.rowsRefused += lost.rowsRefused;
    out.valuesChanged += lost.valuesChanged;
  };
  // A run that ends early leaves no table half built.
  auto undoUnsettled = [&] {
    std::vector<std::string> undoNotes;
    for (std::size_t j : unsettled) jobs[j]->undo(*cn, undoNotes);
    unsettled.clear();
    for (const auto& n : undoNotes) out.notes << QString::fromStdString(n);
  };

  if (!connectionString) {
    // No target: nothing runs, and the run counts as finished.
    for (std::size_t j = 0; j < jobs.size(); ++j) out.notes << SkippedJobNote(jobs[j]->table());
    out.jobsSkipped = static_cast<int>(jobs.size());
    return out;
  }

  std::string target;
  try {
    target = connectionString();
    cn = std::make_unique<ado::Connection>();
    cn->setWaiting(waiting);
    cn->open(target);
  } catch (...) {
    fail(platform::CurrentExceptionDescription());
    return out;
  }

  bool stop = false;
  for (qsizetype i = 0; i < count; ++i) {
    if (!progress(LineProgress(i, count)) || stop) {
      out.end = ScriptOutcome::End::Stopped;
      undoUnsettled();
      replacedNote();
      return out;
    }
    current = i;
    const std::string_view line = lines.line(i);
    if (line.empty()) continue;
    try {
      cn->execute(line);
      ++out.commandsRun;
    } catch (...) {
      fail(platform::CurrentExceptionDescription());
      undoUnsettled();
      replacedNote();
      return out;
    }
    if (!unsettled.empty()) {
      const std::string_view ran = lines.line(i);
      std::erase_if(unsettled, [&](std::size_t j) { return jobs[j]->settledBy(ran); });
    }
    if (pendingJobs == 0) continue;
    // The window answered while the server worked, and jobs yield to it too: the source may
    // have moved its lines meanwhile, so the line is read again, and the jobs compare against
    // a copy.
    const std::string command(lines.line(i));
    for (std::size_t j = 0; j < jobs.size(); ++j) {
      if (ran[j] || !jobs[j]->runsAfter(command)) continue;
      --pendingJobs;
      ran[j] = true;
      std::vector<std::string> jobNotes;
      // The job's own progress fills the stretch of the bar between this line and the next.
      auto jobProgress = [&](int percent) {
        long long value =
            count <= 1
                ? 100
                : (static_cast<long long>(i) * 100 + std::clamp(percent, 0, 100)) / (count - 1);
        if (!progress(static_cast<int>(std::min(value, 100LL)))) stop = true;
      };
      try {
        jobs[j]->run(*cn, jobProgress, jobNotes);
        countLosses(*jobs[j]);
      } catch (...) {
        countLosses(*jobs[j]);
        for (const auto& n : jobNotes) out.notes << QString::fromStdString(n);
        fail(QStringLiteral("The rows of table %1 could not be copied: %2")
                 .arg(QString::fromStdString(jobs[j]->table()),
                      platform::CurrentExceptionDescription()));
        undoUnsettled();
        replacedNote();
        return out;
      }
      unsettled.push_back(j);
      for (const auto& n : jobNotes) out.notes << QString::fromStdString(n);
    }
  }

  for (std::size_t j = 0; j < jobs.size(); ++j) {
    if (ran[j]) continue;
    const std::string note = jobs[j]->skippedNote();
    if (note.empty()) continue;
    out.notes << QString::fromStdString(note);
    ++out.jobsSkipped;
  }
  replacedNote();
  try {
    // A target that writes on closing (the FoxPro engine's last rows) may fail here.
    cn->close();
  } catch (...) {
    fail(platform::CurrentExceptionDescription());
    if (!unsettled.empty()) {
      // Closed all the same: what is left half built is taken away on a new connection.
      try {
        cn = std::make_unique<ado::Connection>();
        cn->setWaiting(waiting);
        cn->open(target);
      } catch (...) {
      }
      undoUnsettled();
    }
  }
  return out;
}

}  // namespace transfer
