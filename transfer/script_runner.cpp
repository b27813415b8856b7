#include "transfer/script_runner.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"
#include "core/error.h"

namespace transfer {

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// At most this many lines go to a MySQL server as one command, and at most this much text
// (or a quarter of the server's packet limit, when that is smaller).
constexpr std::size_t kBatchLines = 1000;
constexpr std::size_t kBatchBytes = 1 << 20;
constexpr int kParseError = 1064;  // ER_PARSE_ERROR

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// True for a line the server reads as exactly one INSERT, UPDATE, DELETE or REPLACE whatever
// follows it in the same command: every quote closed on the line (a backslash escaping the next
// character inside '...' and "..."), and no ";" and no comment ("#", "--", "/*") outside
// quotes. A backslash inside "..." is refused too: under ANSI_QUOTES that is a name, in which
// a backslash escapes nothing, so the line would end elsewhere.
bool IsOneDmlStatement(std::string_view line) {
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string_view::npos) return false;
  bool known = false;
  for (std::string_view word : {"INSERT", "UPDATE", "DELETE", "REPLACE"}) {
    if (line.size() - i < word.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < word.size() && same; ++k) {
      char c = line[i + k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == word[k];
    }
    if (!same || (i + word.size() < line.size() && IsWordChar(line[i + word.size()]))) continue;
    known = true;
    i += word.size();
    break;
  }
  if (!known) return false;
  char quote = 0;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (quote) {
      if (c == quote) {
        quote = 0;
      } else if (c == '\\' && quote != '`') {
        if (quote == '"' || ++i == line.size()) return false;
      }
      continue;
    }
    switch (c) {
      case '\'':
      case '"':
      case '`':
        quote = c;
        break;
      case ';':
      case '#':
        return false;
      case '-':
      case '/':
        if (i + 1 < line.size() && line[i + 1] == (c == '-' ? '-' : '*')) return false;
        break;
      default:
        break;
    }
  }
  return quote == 0;
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

  // A MySQL server gets runs of plain DML lines as one command each (see the header).
  ado::MySqlSession* session = nullptr;
  std::size_t batchBytes = 0;  // asked of the server when first needed
  std::vector<std::string> batch;
  std::vector<qsizetype> batchLines;
  auto claimed = [&](std::string_view line) {
    if (pendingJobs == 0) return false;
    const std::string command(line);
    for (std::size_t j = 0; j < jobs.size(); ++j)
      if (!ran[j] && jobs[j]->runsAfter(command)) return true;
    return false;
  };
  auto batchable = [&](std::string_view line) { return IsOneDmlStatement(line) && !claimed(line); };
  auto settleBy = [&](std::string_view line) {
    if (unsettled.empty()) return;
    std::erase_if(unsettled, [&](std::size_t j) { return jobs[j]->settledBy(line); });
  };
  // The lines from `first` that go as one command with it, in batch and batchLines; the index
  // after the last of them (empty lines between them included).
  auto gather = [&](qsizetype first) {
    batch.clear();
    batchLines.clear();
    if (batchBytes == 0) {
      batchBytes = kBatchBytes;
      const auto rows = session->query("SELECT @@max_allowed_packet");
      unsigned long long packet = 0;
      if (!rows.empty() && !rows[0].empty() && rows[0][0])
        packet = std::strtoull(rows[0][0]->c_str(), nullptr, 10);
      if (packet > 0) batchBytes = std::min<std::size_t>(batchBytes, packet / 4);
    }
    std::size_t bytes = 0;
    qsizetype next = first;
    for (; next < count && batch.size() < kBatchLines; ++next) {
      const std::string_view line = lines.line(next);
      if (line.empty()) continue;
      if (bytes + line.size() + 1 > batchBytes || !batchable(line)) break;
      bytes += line.size() + 1;
      batch.emplace_back(line);
      batchLines.push_back(next);
    }
    return next;
  };

  bool stop = false;
  qsizetype alone = -1;  // a line that must run by itself (see below)
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
    session = i != alone ? ado::mysqlSessionOf(*cn) : nullptr;
    // The line as gathering copied it: having read past it, the source may not give it again
    // once the window edits it (see EditorLines).
    std::optional<std::string> held;
    if (session && session->readsBackslashEscapes() && IsOneDmlStatement(line)) {
      qsizetype next = i;
      try {
        next = gather(i);
      } catch (...) {
        fail(platform::CurrentExceptionDescription());
        undoUnsettled();
        replacedNote();
        return out;
      }
      if (batch.size() > 1) {
        std::size_t succeeded = 0;
        try {
          session->executeEach(batch, succeeded);
        } catch (...) {
          for (std::size_t k = 0; k < succeeded; ++k) settleBy(batch[k]);
          out.commandsRun += static_cast<long long>(succeeded);
          current = batchLines[std::min(succeeded, batchLines.size() - 1)];
          int code = 0;
          try {
            throw;
          } catch (const ado::DataAccessError& e) {
            code = e.nativeCode();
          } catch (...) {
          }
          // A line the server could not parse did not run, and its message quotes the text
          // after the error, which here runs on into the next lines: it runs again alone, to
          // fail with the message it has by itself.
          if (code == kParseError && !session->abandoned()) {
            alone = current;
            i = current - 1;
            continue;
          }
          if (session->abandoned()) {
            // As Connection::execute does: a connection that can run nothing more is closed.
            try {
              cn->close();
            } catch (...) {
            }
          }
          fail(platform::CurrentExceptionDescription());
          undoUnsettled();
          replacedNote();
          return out;
        }
        out.commandsRun += static_cast<long long>(batch.size());
        for (const auto& l : batch) settleBy(l);
        i = next - 1;
        continue;  // no job claims these lines
      }
      if (!batch.empty()) held = std::move(batch.front());
    }
    try {
      cn->execute(held ? std::string_view(*held) : lines.line(i));
      ++out.commandsRun;
    } catch (...) {
      fail(platform::CurrentExceptionDescription());
      undoUnsettled();
      replacedNote();
      return out;
    }
    settleBy(held ? std::string_view(*held) : lines.line(i));
    if (pendingJobs == 0) continue;
    // The window answered while the server worked, and jobs yield to it too: the source may
    // have moved its lines meanwhile, so the line is read again, and the jobs compare against
    // a copy.
    const std::string command(held ? *held : std::string(lines.line(i)));
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
