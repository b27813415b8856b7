// Module AddFolder: the folder chooser behind the connection window's "..." button for the
// free-table folder. The platform's folder dialog does the work; cancel gives empty text.
#pragma once

#include <QString>

class QWidget;

namespace AddFolder {

// The chosen folder's full path, or empty text when the user cancels.
QString BrowseForFolder(QWidget* owner, const QString& prompt, const QString& startFolder);

}  // namespace AddFolder
