// Small helpers shared by the main-window tests.
#pragma once

#include <QListWidget>
#include <QStringList>

#include "ado/dataaccess.h"

inline QStringList entries(const QListWidget& list) {
  QStringList out;
  for (int i = 0; i < list.count(); ++i) out << list.item(i)->text();
  return out;
}

inline QStringList selectedEntries(const QListWidget& list) {
  QStringList out;
  for (int i = 0; i < list.count(); ++i)
    if (list.item(i)->isSelected()) out << list.item(i)->text();
  return out;
}

// Selects exactly the named entries and makes the first of them current, as clicks would.
inline void selectOnly(QListWidget& list, const QStringList& names) {
  list.clearSelection();
  bool first = true;
  for (int i = 0; i < list.count(); ++i) {
    if (!names.contains(list.item(i)->text())) continue;
    if (first) list.setCurrentRow(i, QItemSelectionModel::NoUpdate);
    first = false;
    list.item(i)->setSelected(true);
  }
}

// The table names a database reports now, in its own order.
inline QStringList databaseTables(const std::string& connectionString, const char* sql) {
  ado::Connection cn;
  cn.setCursorLocation(ado::adUseClient);
  cn.open(connectionString);
  ado::RecordSet rs(cn.execute(sql));
  QStringList out;
  for (; !rs.eof(); rs.moveNext()) out << QString::fromStdString(rs.value(0).toText());
  return out;
}
