#include "shell/add_folder.h"

#include "platform/application.h"

namespace AddFolder {

QString BrowseForFolder(QWidget* owner, const QString& prompt, const QString& startFolder) {
  return platform::Application::current().dialogs().chooseFolder(owner, prompt, startFolder);
}

}  // namespace AddFolder
