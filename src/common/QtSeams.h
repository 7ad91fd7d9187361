#pragma once

// The seams' defaults for the real program: message boxes, folder picker and
// browser through Qt's dialogs and desktop services.
namespace QtSeams {
// Installs the three defaults; the program's main() calls it once.
void InstallDefaults();
} // namespace QtSeams
