#include "FolderPicker.h"

namespace {
FolderPicker* g_picker = nullptr;
}

QString BrowseForFolder(const QString& prompt, const QString& start)
{
    return g_picker ? g_picker->browseForFolder(prompt, start) : QString();
}

FolderPicker* SetFolderPicker(FolderPicker* picker)
{
    FolderPicker* previous = g_picker;
    g_picker = picker;
    return previous;
}
