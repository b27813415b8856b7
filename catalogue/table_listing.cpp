#include "catalogue/table_listing.h"

#include <QListWidget>
#include <QVariant>

#include "platform/application.h"
#include "platform/connection_strings.h"
#include "platform/dataaccess.h"
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

QString textOf(const ado::Value& v) { return QString::fromStdString(v.toText()); }

}  // namespace

namespace Foxpro {

void AddTablesToFoxproListbox(QListWidget& list, const std::string& connectionString) {
  platform::ErrorTrap trap(QStringLiteral("Foxpro"), QStringLiteral("AddTablesToFoxproListbox"),
                           list.window());
  ado::Connection cn;
  ado::RecordSet rs;
  bool readable = trap.step(100, [&] { cn.open(connectionString); }) &&
                  trap.step(102, [&] { rs = ado::RecordSet(cn.openSchema(ado::adSchemaTables)); });
  ListingTurn turn(list);
  trap.step(104, [&] { list.clear(); });
  int nameColumn = -1;
  int typeColumn = -1;
  readable = readable && trap.step(106, [&] {
    nameColumn = rs.fieldIndex("TABLE_NAME");
    typeColumn = rs.fieldIndex("TABLE_TYPE");
  });
  bool going = readable;
  while (going) {
    bool atEnd = true;
    if (!trap.step(108, [&] { atEnd = rs.eof(); }) || atEnd) break;
    trap.step(110, [&] {
      // Views and system tables are not tables to send or delete; the type must match exactly.
      if (textOf(rs.value(typeColumn)) != QLatin1String("TABLE")) return;
      if (!turn.yield()) {
        going = false;
        return;
      }
      list.addItem(textOf(rs.value(nameColumn)));
    });
    // A row set that cannot move on would be read again and again.
    going = going && trap.step(112, [&] { rs.moveNext(); });
  }
  trap.step(114, [&] {
    rs.close();
    cn.close();
  });
}

}  // namespace Foxpro

namespace MySQL {

void AddTablesToMySQLListbox(QListWidget& list) {
  platform::ErrorTrap trap(QStringLiteral("MySQL"), QStringLiteral("AddTablesToMySQLListbox"),
                           list.window());
  ado::Connection cn;
  ado::RecordSet rs;
  // The rows are read by count, which a client-side cursor knows before the first row.
  cn.setCursorLocation(ado::adUseClient);
  bool readable = trap.step(100, [&] { cn.open(MySQLConnectionString()); }) &&
                  trap.step(102, [&] { rs = ado::RecordSet(cn.execute("SHOW TABLES;")); });
  ListingTurn turn(list);
  trap.step(104, [&] { list.clear(); });
  long long count = 0;
  if (readable) trap.step(106, [&] { count = rs.recordCount(); });
  for (long long k = 1; k <= count; ++k) {
    if (!turn.yield()) break;
    trap.step(108, [&] { list.addItem(textOf(rs.value(0))); });
    if (k < count && !trap.step(110, [&] { rs.moveNext(); })) break;
  }
  trap.step(112, [&] {
    rs.close();
    cn.close();
  });
}

}  // namespace MySQL
