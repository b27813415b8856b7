// The main window's lists, progress bar and pointer as the send functions take them, without the
// window class itself: a benchmark presses the same send the window's buttons run. `selectOnly`
// puts one table in a list and selects it, as a user's click does.
#pragma once

#include <QListWidget>
#include <QProgressBar>
#include <QString>
#include <QWidget>

#include "platform/main_window_view.h"
#include "platform/pointer.h"

namespace bench {

struct MainWindowParts {
  QWidget window;
  QListWidget list1{&window};  // the MySQL tables
  QListWidget list2{&window};  // the FoxPro tables
  QProgressBar bar{&window};
  platform::WindowPointer pointer{window};
  platform::MainWindowView view{window, list1, list2, bar, pointer};

  static void selectOnly(QListWidget& list, const QString& table) {
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    list.addItem(table);
    list.item(0)->setSelected(true);
    list.setCurrentRow(0, QItemSelectionModel::NoUpdate);
  }
};

}  // namespace bench
