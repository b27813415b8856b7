#include "platform/table_listing.h"

#include <QListWidget>
#include <QVariant>

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/error_trap.h"
#include "platform/ui.h"

namespace {

constexpr const char* kGenerationProperty = "quillmereListing";

// Marks the start of a listing of this list; an older listing still running sees the mark
// change and stops.
class ListingTurn {
 public:
  explicit ListingTurn(QListWidget& list)
      : list_(list), turn_(list.property(kGenerationProperty).toInt() + 1) {
    list_.setProperty(kGenerationProperty, turn_);
  }
  // Yields once; false when this listing must stop (superseded, or the program is ending).
  bool yield() {
    platform::DoEvents();
    return list_.property(kGenerationProperty).toInt() == turn_ &&
           !platform::Application::current().ending();
  }

 private:
  QListWidget& list_;
  int turn_;
};

// Replaces the list's entries with the names read by `read`, which runs as step 100 of the trap.
void Fill(QListWidget& list, platform::ErrorTrap& trap,
          const std::function<std::vector<std::string>()>& read) {
  std::vector<std::string> names;
  bool ending = false;
  trap.step(100, [&] {
    try {
      names = read();
    } catch (const platform::ProgramEnding&) {
      ending = true;
    }
  });
  if (ending) return;
  ListingTurn turn(list);
  trap.step(104, [&] { list.clear(); });
  for (const std::string& name : names) {
    if (!turn.yield()) break;
    trap.step(108, [&] { list.addItem(QString::fromStdString(name)); });
  }
}

}  // namespace

namespace platform {

std::vector<std::string> ChosenTables(const QListWidget& list) {
  std::vector<std::string> names;
  for (int i = list.count() - 1; i >= 0; --i)
    if (list.item(i)->isSelected()) names.push_back(list.item(i)->text().toStdString());
  return names;
}

std::vector<std::string> ListedTables(const QListWidget& list) {
  std::vector<std::string> names;
  names.reserve(std::size_t(list.count()));
  for (int i = 0; i < list.count(); ++i) names.push_back(list.item(i)->text().toStdString());
  return names;
}

}  // namespace platform

namespace Foxpro {

void AddTablesToFoxproListbox(QListWidget& list, const std::string& connectionString) {
  platform::ErrorTrap trap(QStringLiteral("Foxpro"), QStringLiteral("AddTablesToFoxproListbox"),
                           list.window());
  Fill(list, trap, [&] { return platform::FoxproTableNames(connectionString); });
}

}  // namespace Foxpro

namespace MySQL {

void AddTablesToMySQLListbox(QListWidget& list) {
  platform::ErrorTrap trap(QStringLiteral("MySQL"), QStringLiteral("AddTablesToMySQLListbox"),
                           list.window());
  Fill(list, trap, [&] {
    return platform::MySqlTableNames(MySQLConnectionString(), platform::YieldWhileWaiting);
  });
}

void AddTablesToMySQLListbox(QListWidget& list, const std::string& connectionString) {
  platform::ErrorTrap trap(QStringLiteral("MySQL"), QStringLiteral("AddTablesToMySQLListbox"),
                           list.window());
  Fill(list, trap,
       [&] { return platform::MySqlTableNames(connectionString, platform::YieldWhileWaiting); });
}

}  // namespace MySQL
