#include "FolderPicker.h"

namespace {
FolderPicker* g_picker = nullptr;
}

QString BrowseForFolder(const QString& prompt)
{
    return g_picker ? g_picker->browseForFolder(prompt) : QString();
}

FolderPicker* SetFolderPicker(FolderPicker* picker)
{
    FolderPicker* previous = g_picker;
    g_picker = picker;
    return previous;
}
