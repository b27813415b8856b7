// The main window's lists, progress bar and pointer as the send functions take them, for tests
// that press a send button without the window class. The UI environment comes first, so that
// the widgets are made under the test's application services and go before them.
#pragma once

#include <QListWidget>
#include <QProgressBar>
#include <QStringList>
#include <QWidget>

#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "support/scripted_dialogs.h"

namespace qmtest {

struct MainWindowParts {
  testing_support::UiTestEnvironment env;
  QWidget window;
  QListWidget List1{&window};  // the MySQL tables
  QListWidget List2{&window};  // the FoxPro tables
  QProgressBar ProgressBar1{&window};
  platform::WindowPointer pointer{window};
  platform::MainWindowView view{window, List1, List2, ProgressBar1, pointer};

  // As the main window has them: several tables can be chosen in each list.
  MainWindowParts() {
    List1.setSelectionMode(QAbstractItemView::ExtendedSelection);
    List2.setSelectionMode(QAbstractItemView::ExtendedSelection);
  }

  // The entries of a list, top to bottom.
  static QStringList entries(const QListWidget& list) {
    QStringList out;
    for (int i = 0; i < list.count(); ++i) out << list.item(i)->text();
    return out;
  }

  // Selects the named items of a list (and no others), as a user's clicks do.
  static void selectIn(QListWidget& list, const QStringList& chosen) {
    for (int i = 0; i < list.count(); ++i)
      list.item(i)->setSelected(chosen.contains(list.item(i)->text()));
    list.setCurrentRow(0, QItemSelectionModel::NoUpdate);
  }
};

}  // namespace qmtest
