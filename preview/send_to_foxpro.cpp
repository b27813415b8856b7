// "Send Table/s To FoxPro" on the main window: the script build of mysql_to_foxpro.h wired to
// the window's lists, progress bar and dialogs, and to the preview it opens.
#include <QElapsedTimer>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <optional>

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "platform/ui.h"
#include "preview/changes_only.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "transfer/mysql_to_foxpro.h"
#include "transfer/sync_to_foxpro.h"

namespace transfer {

namespace {

// The window is given its events this often while a script is built: often enough to stay live,
// rarely enough that a million rows are not spent repainting.
constexpr qint64 kYieldMilliseconds = 25;

constexpr const char* kSelectTable = "Please select a table";
constexpr const char* kOverwriteCaption = "Overwrite?";
constexpr const char* kNumericNamePrompt = "Please change field name so it is not strictly numeric";
constexpr const char* kProgressIdleText = "Progress Bar";

// "Send changes only": the rows that changed in MySQL since a typed send, as FoxPro INSERT,
// UPDATE and DELETE lines in the preview; a sync that finds nothing opens no preview.
void SendChangesToFoxpro(platform::MainWindowView& view, const std::vector<std::string>& tables,
                         platform::ErrorTrap& trap) {
  auto& app = platform::Application::current();
  Form4 form(&view.window);
  PreviewSink sink(form);
  bool built = false;
  long long statements = 0;
  {
    platform::WaitPointer wait(view.pointer);
    built = trap.step(114, [&] {
      try {
        SyncToFoxproHooks hooks;
        hooks.deleteTargetOnly = AskDeleteTargetOnly(&view.window, "FoxPro");
        hooks.keyFor = [&](const std::string& table) {
          return AskKey(&view.window, table, "primary key or unique key of NOT NULL columns");
        };
        hooks.progress = [&](int percent) {
          view.ProgressBar1.setValue(percent);
          platform::YieldWhileWaiting();
        };
        statements = BuildSyncToFoxpro(tables, FoxproConnectionString(), MySQLConnectionString(),
                                       sink, hooks)
                         .statements;
      } catch (const platform::ProgramEnding&) {
      }
    });
    view.ProgressBar1.setValue(0);
    view.ProgressBar1.setFormat(QString::fromLatin1(kProgressIdleText));
  }
  if (!built || app.ending()) return;
  if (statements == 0) {
    trap.step(116, [&] { SayNothingChanged(&view.window, form.Text1->toPlainText()); });
    return;
  }
  form.m_SendType = 0;
  trap.step(110, [&] { platform::ShowModal(form); });
  if (app.ending()) return;
  trap.step(112, [&] { Foxpro::AddTablesToFoxproListbox(view.List2, FoxproConnectionString()); });
}

}  // namespace

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
  if (view.changesOnly) {
    SendChangesToFoxpro(view, tables, trap);
    return;
  }

  bool listTouched = false;
  bool built = false;
  FoxproScriptSummary summary;
  std::optional<Form4> form;
  {
    platform::WaitPointer wait(view.pointer);
    ado::Connection mysql;
    FoxproTarget target;
    bool ready = trap.step(102, [&] {
      target = ChooseFoxproTarget(platform::CurrentConnectionFields(),
                                  QLocale::system().name().toStdString());
    });
    // While the server counts or sends a table's rows, the window answers; the buttons that
    // could start a second run are guarded by the main window.
    bool ending = false;
    mysql.setWaiting(platform::YieldWhileWaiting);
    ready = ready && trap.step(104, [&] {
      try {
        OpenSourceConnection(mysql, MySQLConnectionString());
      } catch (const platform::ProgramEnding&) {
        ending = true;
      }
    });
    if (ending) return;
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
          sinceYield.restart();
          platform::YieldWhileWaiting();
        }
      };
      hooks.tableDropped = [&](const std::string& lower) {
        Main::RemoveListItem(view.List2, QString::fromStdString(lower));
        listTouched = true;
      };
      hooks.tableScripted = [&](const std::string& t) {
        view.ProgressBar1.setValue(0);
        view.ProgressBar1.setFormat(QString::fromLatin1(kProgressIdleText));
        view.List2.addItem(QString::fromStdString(FoxproListedName(t)));
        listTouched = true;
      };
      hooks.command = [&](std::string_view c) { form->AppendCommandUtf8(c); };
      hooks.withdraw = [&](long long count) { form->WithdrawCommands(count); };
      hooks.job = [&](std::unique_ptr<ScriptJob> job) { form->AddJob(std::move(job)); };
      hooks.expect = [&](long long bytes) { form->ExpectBytes(bytes); };
      hooks.typed = view.typed;
      try {
        hooks.report = [&](const std::string& report) {
          // Notes shows what the target will hold differently before anything runs.
          form->Text1->setPlainText(QString::fromStdString(report));
        };
        // The trap reports whatever escapes its step, so the program's end is caught inside.
        built = trap.step(106, [&] {
          try {
            summary = BuildFoxproScript(mysql, tables, target, hooks);
          } catch (const platform::ProgramEnding&) {
            ending = true;
          }
        });
      } catch (const platform::ProgramEnding&) {
        return;
      }
      if (ending) return;
      // A table left out part-way leaves the bar where its reading stopped; a half-built script
      // is not offered at all. Either way the bar goes back to rest.
      view.ProgressBar1.setValue(0);
      view.ProgressBar1.setFormat(QString::fromLatin1(kProgressIdleText));
    }
    trap.step(108, [&] { mysql.close(); });
  }

  // The preview opens whenever the script holds a command or the report names a table left
  // out; when every table was declined there is nothing to show.
  const bool show = built && (summary.commands > 0 || summary.tablesLeftOut > 0);
  if (show) {
    form->m_SendType = 0;
    trap.step(110, [&] { platform::ShowModal(*form); });
    if (app.ending()) return;
    form.reset();
  }
  // Whether or not the script ran, the list shows what the FoxPro database now holds, never an
  // entry for a table that was not created.
  if (listTouched || show)
    trap.step(112, [&] { Foxpro::AddTablesToFoxproListbox(view.List2, FoxproConnectionString()); });
  view.pointer.setNormal();
}

}  // namespace transfer
