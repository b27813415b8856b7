// The two table lists of the main window (MySQL List1, FoxPro List2): plain table names, extended
// multiple selection, and a current index (currentRow(), -1 when no entry holds the caret).
//
// The list keeps its entries in alphabetical order ignoring case whoever adds them: addItem,
// insertItem or new QListWidgetItem(name, list) all end with the entry in its sorted place,
// keeping its item object and its selected flag. The transfers add names through the plain
// QListWidget interface, so the order cannot depend on which item class they use.
#pragma once

#include <QListWidget>
#include <QString>

// The order of the lists: ignoring case, and names that differ only in case (MySQL keeps such
// pairs apart on a case-sensitive server) in a fixed order among themselves.
bool TableNameLess(const QString& a, const QString& b);

class TableList : public QListWidget {
 public:
  explicit TableList(QWidget* parent = nullptr);

 private:
  static constexpr int kRepaintInterval = 25;  // milliseconds

  void holdRepaints();
  void placeInserted(int first, int last);
  void moveEntry(int from, int to);
  bool placing_ = false;
};
