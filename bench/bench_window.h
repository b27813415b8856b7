// The main window's lists, progress bar and pointer as the send functions take them, without the
// window class itself: a benchmark presses the same send the window's buttons run. `selectOnly`
// puts one table in a list and selects it, as a user's click does. YesDialogs answers every
// question with Yes and every input box with its default, so a run never waits for a person;
// a benchmark adds what it does with the preview (showModal).
#pragma once

#include <QListWidget>
#include <QProgressBar>
#include <QString>
#include <QWidget>
#include <string>

#include "platform/dialogs.h"
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

class YesDialogs : public platform::Dialogs {
 public:
  std::string lastMessage;
  int messageBox(QWidget*, const QString& text, int, const QString&) override {
    lastMessage = text.toStdString();
    return platform::vbYes;
  }
  QString inputBox(QWidget*, const QString&, const QString&, const QString& d) override {
    return d;
  }
  QString openFile(QWidget*, const platform::FileDialogRequest&) override { return {}; }
  QString saveFile(QWidget*, const platform::FileDialogRequest&) override { return {}; }
  QString chooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
};

}  // namespace bench
