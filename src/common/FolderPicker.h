#pragma once

#include <QString>

// Asks the operator for a folder. The default shows a directories-only file
// dialog (forms library); tests install a scripted picker.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // The chosen folder's path, or "" when the operator cancelled. The dialog
    // opens at start (an existing folder), or at the root when start is empty.
    virtual QString browseForFolder(const QString& prompt, const QString& start) = 0;
};

// Returns "" when no picker is installed.
QString BrowseForFolder(const QString& prompt, const QString& start = QString());
FolderPicker* SetFolderPicker(FolderPicker* picker);
