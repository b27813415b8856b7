#include "transfer/mysql_to_foxpro.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>
#include <algorithm>
#include <optional>

#include "platform/connection_strings.h"
#include "platform/dataaccess.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "platform/ui.h"
#include "transfer/form4.h"
#include "transfer/foxpro_script.h"

namespace transfer {

namespace {

constexpr int kSourceTimeoutSeconds = 5000;
// The window is given its events this often while a script is built: often enough to stay live,
// rarely enough that a million rows are not spent repainting.
constexpr qint64 kYieldMilliseconds = 25;

constexpr const char* kSelectTable = "Please select a table";
constexpr const char* kOverwriteCaption = "Overwrite?";
constexpr const char* kNumericNamePrompt = "Please change field name so it is not strictly numeric";
constexpr const char* kProgressIdleText = "Progress Bar";

platform::ConnectionFields currentFields() {
  auto& app = platform::Application::current();
  if (!app.connectionFields)
    throw platform::Error(QStringLiteral("The connection window is not loaded."));
  return app.connectionFields();
}

// Thrown from the progress callback when the program is ending: the run stops at once.
struct ProgramEnding {};

std::string lowercase(const std::string& name) {
  return QString::fromStdString(name).toLower().toStdString();
}

// The name between backticks, a backtick inside doubled, as MySQL reads a quoted identifier.
std::string backtickName(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

}  // namespace

std::string FoxproTargetFolder(const platform::ConnectionFields& fields) {
  const QString folder =
      fields.useDbcFile ? Main::FolderOfPath(fields.dbcFile) : fields.freeTableFolder;
  std::string out = folder.toStdString();
  if (out.empty() || out.back() == '\\' || out.back() == '/') return out;
  // Windows paths keep their own separator; the engine reads both.
  return out + (out.find('\\') != std::string::npos ? '\\' : '/');
}

void OpenSourceConnection(ado::Connection& mysql, const std::string& connectionString) {
  // Rows are streamed: a stored result would hold the whole table in memory and keep the window
  // waiting until the last row arrived. The progress bar's total is counted beforehand.
  mysql.setCursorLocation(ado::adUseServer);
  mysql.setCommandTimeout(kSourceTimeoutSeconds);
  mysql.setConnectionTimeout(kSourceTimeoutSeconds);
  mysql.open(connectionString);
}

FoxproScriptSummary BuildFoxproScript(ado::Connection& mysql,
                                      const std::vector<std::string>& tables,
                                      const std::string& targetFolder,
                                      const FoxproScriptHooks& hooks) {
  FoxproScriptSummary summary;
  auto hand = [&](std::string_view command) {
    hooks.command(command);
    ++summary.commands;
  };
  std::string command;  // one buffer for every row, so a row costs no allocation once warm
  for (const std::string& table : tables) {
    if (hooks.targetHas(table)) {
      if (!hooks.confirmOverwrite(table)) {
        ++summary.tablesDeclined;
        continue;
      }
      const std::string lower = lowercase(table);
      hand("DROP TABLE [" + lower + "]");
      hooks.tableDropped(lower);
    }

    const std::string source = backtickName(table);
    auto named = [&](const ado::DataAccessError& e) {
      return ado::DataAccessError("Table '" + table + "' cannot be read: " + e.what(),
                                  e.nativeCode());
    };

    // The columns first, without rows: a question about a column name must not keep a
    // streaming result waiting on the server.
    std::vector<std::string> entries;
    std::vector<int> types;
    ado::RecordSet rows;
    try {
      rows.open("SELECT * FROM " + source + " LIMIT 0", mysql, ado::adOpenForwardOnly,
                ado::adLockReadOnly);
    } catch (const ado::DataAccessError& e) {
      throw named(e);
    }
    const int fieldCount = rows.fieldCount();
    std::vector<std::string> names;
    for (int f = 0; f < fieldCount; ++f) {
      names.push_back(rows.field(f).name);
      types.push_back(rows.field(f).type);
    }
    rows.close();
    for (const std::string& name : names) {
      std::string entry = FoxproScript::ColumnEntry(name);
      const std::string bare = FoxproScript::BareName(entry);
      if (FoxproScript::IsNumericName(bare)) entry = "[" + hooks.renameNumericColumn(bare) + "]";
      entries.push_back(std::move(entry));
    }
    const std::string targetPath = targetFolder + table + ".DBF";
    hand(FoxproScript::CreateCommand(targetPath, entries, types));

    long long total = 0;
    try {
      ado::RecordSet count(mysql.execute("SELECT COUNT(*) FROM " + source));
      total = std::stoll(count.value(0).toText());
      rows.open("SELECT * FROM " + source, mysql, ado::adOpenForwardOnly, ado::adLockReadOnly);
    } catch (const ado::DataAccessError& e) {
      throw named(e);
    }
    if (rows.fieldCount() != fieldCount)
      throw ado::DataAccessError("Table '" + table + "' changed while it was being read.");

    const std::string prefix = "INSERT INTO [" + targetPath + "] VALUES(";
    hooks.progress(0, total);
    long long done = 0;
    while (!rows.eof()) {
      command.assign(prefix);
      for (int f = 0; f < fieldCount; ++f) {
        if (f) command += ", ";
        FoxproScript::AppendLiteral(command, rows.value(f), types[static_cast<std::size_t>(f)]);
      }
      command += ')';
      hand(command);
      rows.moveNext();
      // Rows added meanwhile may outnumber the count; the bar stops at its end.
      ++done;
      hooks.progress(std::min(done, total), total);
    }
    rows.close();
    ++summary.tablesScripted;
    hooks.tableScripted(table);
  }
  return summary;
}

void SendTablesToFoxpro(platform::MainWindowView& view) {
  auto& app = platform::Application::current();
  platform::ErrorTrap trap(QStringLiteral("Form2"), QStringLiteral("PushButton3_Click"),
                           &view.window);

  // The selection is taken once, from the bottom of the list up, so clicks in the list while
  // the script is built do not change what is sent.
  const std::vector<std::string> tables = platform::ChosenTables(view.List1);
  if (tables.empty()) {
    trap.step(100, [&] {
      platform::MsgBox(QString::fromLatin1(kSelectTable), platform::vbOKOnly, {}, &view.window);
    });
    return;
  }

  bool listTouched = false;
  bool built = false;
  FoxproScriptSummary summary;
  std::optional<Form4> form;
  {
    platform::WaitPointer wait(view.pointer);
    ado::Connection mysql;
    std::string folder;
    bool ready = trap.step(102, [&] { folder = FoxproTargetFolder(currentFields()); });
    ready = ready && trap.step(104, [&] { OpenSourceConnection(mysql, MySQLConnectionString()); });
    if (ready) {
      form.emplace(&view.window);
      QElapsedTimer sinceYield;
      sinceYield.start();
      FoxproScriptHooks hooks;
      hooks.targetHas = [&](const std::string& t) {
        return Main::ListContains(view.List2, QString::fromStdString(t));
      };
      hooks.confirmOverwrite = [&](const std::string& t) {
        return platform::MsgBox(QStringLiteral("Would you like to overwrite ") +
                                    QString::fromStdString(t) + QLatin1Char('?'),
                                platform::vbYesNo, QString::fromLatin1(kOverwriteCaption),
                                &view.window) == platform::vbYes;
      };
      hooks.renameNumericColumn = [&](const std::string& bare) {
        return platform::InputBox(QString::fromLatin1(kNumericNamePrompt), {},
                                  QString::fromStdString(bare), &view.window)
            .toStdString();
      };
      hooks.progress = [&](long long done, long long total) {
        if (total > 0) {
          int percent = static_cast<int>(
              static_cast<double>(done) / static_cast<double>(total) * 100.0 + 0.5);
          if (percent != view.ProgressBar1.value()) view.ProgressBar1.setValue(percent);
        }
        if (done == 0 || sinceYield.elapsed() >= kYieldMilliseconds) {
          platform::DoEvents();
          sinceYield.restart();
          if (app.ending()) throw ProgramEnding{};
        }
      };
      hooks.tableDropped = [&](const std::string& lower) {
        Main::RemoveListItem(view.List2, QString::fromStdString(lower));
        listTouched = true;
      };
      hooks.tableScripted = [&](const std::string& t) {
        view.ProgressBar1.setValue(0);
        view.ProgressBar1.setFormat(QString::fromLatin1(kProgressIdleText));
        view.List2.addItem(QString::fromStdString(lowercase(t)));
        listTouched = true;
      };
      hooks.command = [&](std::string_view c) {
        form->AppendCommand(QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size())));
      };
      try {
        built = trap.step(106, [&] { summary = BuildFoxproScript(mysql, tables, folder, hooks); });
      } catch (const ProgramEnding&) {
        return;
      }
      if (!built) {
        // A half-built script is not offered; the progress bar goes back to rest.
        view.ProgressBar1.setValue(0);
        view.ProgressBar1.setFormat(QString::fromLatin1(kProgressIdleText));
      }
    }
    trap.step(108, [&] { mysql.close(); });
  }

  // The preview opens whenever the script holds a command; when every table was declined there
  // is nothing to show.
  if (built && summary.commands > 0) {
    form->m_SendType = 0;
    trap.step(110, [&] { platform::ShowModal(*form); });
    if (app.ending()) return;
    form.reset();
  }
  // Whether or not the script ran, the list shows what the FoxPro database now holds, never an
  // entry for a table that was not created.
  if (listTouched || (built && summary.commands > 0))
    trap.step(112, [&] { Foxpro::AddTablesToFoxproListbox(view.List2, FoxproConnectionString()); });
  view.pointer.setNormal();
}

}  // namespace transfer
