#include "DirectorySettings.h"

#include "settings/modINI.h"

namespace DirectorySettings {

QString Read(const QString& key)
{
    return modINI::ReadINI(QStringLiteral("SETTINGS"), key, modINI::SettingsFile());
}

} // namespace DirectorySettings
