#include "DirectorySettings.h"

#include "common/modMain.h"
#include "settings/modINI.h"

namespace DirectorySettings {

QString SettingsFile()
{
    return modMain::ApplicationFolder() + QStringLiteral("/settings/corvane.ini");
}

QString Read(const QString& key)
{
    return modINI::ReadINI(QStringLiteral("SETTINGS"), key, SettingsFile());
}

} // namespace DirectorySettings
