#pragma once

#include <QCursor>
#include <QString>

// The program's built-in pictures (":/images/...") and its cursor file.
namespace AppResources {

// Registers the pictures. Any executable linking corvane_lib has them registered
// before main() already; calling this again is harmless, and documents the need.
void Init();

// The pointing-hand cursor of the picture buttons, read from a .cur file with
// its hot spot; the system's pointing hand when the file is missing or unreadable.
QCursor LoadCursorFile(const QString& path);

} // namespace AppResources
