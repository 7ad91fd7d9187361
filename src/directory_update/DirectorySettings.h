#pragma once

#include <QString>

// The two settings the directory update reads, fresh at each call:
// "AdmGrp" and "UserPath" of section "SETTINGS" in settings/corvane.ini.
namespace DirectorySettings {

QString Read(const QString& key);

} // namespace DirectorySettings
