// "Send Table/s To MySQL" on the main window: the script build of foxpro_to_mysql.h wired to the
// window's lists, progress bar and dialogs, and to the preview it opens.
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "platform/ui.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "transfer/foxpro_to_mysql.h"

namespace transfer {

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
  struct FormSink : ScriptSink {
    Form4& form;
    explicit FormSink(Form4& f) : form(f) {}
    void appendCommand(const std::string& command) override {
      form.AppendCommand(QString::fromStdString(command));
    }
    void addJob(std::unique_ptr<ScriptJob> job) override { form.AddJob(std::move(job)); }
    void report(const std::string& text) override {
      form.Text1->setPlainText(QString::fromStdString(text));
    }
  } sink(form);

  bool built = false;
  {
    platform::WaitPointer wait(view.pointer);
    built = trap.step(102, [&] {
      try {
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
        hooks.progress = [&](int percent) {
          view.ProgressBar1.setValue(percent);
          platform::YieldWhileWaiting();
        };
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

  form.m_SendType = 1;
  trap.step(104, [&] { platform::ShowModal(form); });
  if (app.ending()) return;
  // Whether or not the script ran, and however far, the list shows what the server now holds.
  MySQL::AddTablesToMySQLListbox(view.List1);
}

}  // namespace transfer
