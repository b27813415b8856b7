// "Send Table/s To MySQL" on the main window: the script build of foxpro_to_mysql.h wired to the
// window's lists, progress bar and dialogs, and to the preview it opens.
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <functional>

#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "platform/ui.h"
#include "preview/changes_only.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "transfer/foxpro_to_mysql.h"
#include "transfer/sync_to_mysql.h"

namespace transfer {

namespace {

// "Send changes only": the rows that changed since a typed send, compared by key. Returns the
// number of statements the script holds.
long long BuildChangesToMySql(platform::MainWindowView& view,
                              const std::vector<std::string>& tables, ScriptSink& sink,
                              const std::function<void(int)>& progress) {
  SyncToMySqlHooks hooks;
  hooks.deleteTargetOnly = AskDeleteTargetOnly(&view.window, "MySQL");
  hooks.keyFor = [&](const std::string& table) {
    return AskKey(&view.window, table, "primary or candidate key");
  };
  hooks.unmarkedCodePage = UnmarkedFoxproCodePage();
  hooks.progress = progress;
  return BuildSyncToMySql(tables, platform::ListedTables(view.List1), FoxproConnectionString(),
                          MySQLConnectionString(), sink, hooks)
      .statements;
}

}  // namespace

void SendTablesToMySql(platform::MainWindowView& view) {
  auto& app = platform::Application::current();
  platform::ErrorTrap trap("Form2", "PushButton4_Click", &view.window);
  const std::vector<std::string> tables = platform::ChosenTables(view.List2);
  if (tables.empty()) {
    trap.step(100, [&] {
      platform::MsgBox("Please select a table to send.", platform::vbOKOnly, {}, &view.window);
    });
    return;
  }

  Form4 form(&view.window);
  PreviewSink sink(form);

  bool built = false;
  long long changes = -1;  // statements of a changes-only script
  {
    platform::WaitPointer wait(view.pointer);
    built = trap.step(102, [&] {
      try {
        auto progress = [&](int percent) {
          view.ProgressBar1.setValue(percent);
          platform::YieldWhileWaiting();
        };
        if (view.changesOnly) {
          changes = BuildChangesToMySql(view, tables, sink, progress);
          return;
        }
        SendToMySqlHooks hooks;
        hooks.confirmOverwrite = [&](const std::string& name) {
          return platform::MsgBox(
                     "Would you like to overwrite " + QString::fromStdString(name) + "?",
                     platform::vbYesNo, "Overwrite?", &view.window) == platform::vbYes;
        };
        // Reported as the build's own step, so the report names where it happened.
        hooks.tableFailed = [&](const std::string&, const std::string& error) {
          platform::ErrorTrap tableTrap("Form2", "PushButton4_Click", &view.window);
          tableTrap.step(118, [&] { throw platform::Error(error); });
        };
        hooks.progress = progress;
        // What the report says of the server; a server that cannot be reached is reported
        // when the script runs.
        hooks.server = AskTargetServer(MySQLConnectionString());
        hooks.unmarkedCodePage = UnmarkedFoxproCodePage();
        hooks.typed = view.typed;
        hooks.unmarkedNamedBy =
            std::string("named by the setting ") + platform::kFoxproCodePageSetting;
        BuildSendToMySql(tables, platform::ListedTables(view.List1), FoxproConnectionString(), sink,
                         hooks);
      } catch (const platform::ProgramEnding&) {
      }
    });
    view.ProgressBar1.setValue(0);
    view.ProgressBar1.setFormat("Progress Bar");
  }
  if (!built || app.ending()) return;
  if (changes == 0) {
    // Nothing to run: the tables are level (or were left out, as the Notes say).
    trap.step(103, [&] { SayNothingChanged(&view.window, form.Text1->toPlainText()); });
    return;
  }

  form.m_SendType = 1;
  trap.step(104, [&] { platform::ShowModal(form); });
  if (app.ending()) return;
  // Whether or not the script ran, and however far, the list shows what the server now holds.
  MySQL::AddTablesToMySQLListbox(view.List1);
}

}  // namespace transfer
