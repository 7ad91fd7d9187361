#include "AppSettings.h"

#include "settings/modINI.h"

#include <utility>

QString AppSettings::file()
{
    return modINI::SettingsFile();
}

AppSettings AppSettings::load()
{
    return load(file());
}

AppSettings AppSettings::load(const QString& file)
{
    AppSettings s;
    s.adminGroup = modINI::ReadINI(kSection, kAdminGroupKey, file);
    s.loadError = modINI::LastReadError();
    s.userPath = modINI::ReadINI(kSection, kUserPathKey, file);
    return s;
}

bool AppSettings::save(QString* error) const
{
    return save(file(), error);
}

bool AppSettings::save(const QString& file, QString* error) const
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // Checked for both first: a group saved beside the old path would pair two settings never entered together.
    for (const auto& [key, value] : {std::pair{kAdminGroupKey, &adminGroup}, std::pair{kUserPathKey, &userPath}}) {
        if (value->size() > modINI::MaxValueLength)
            return fail(QStringLiteral("The value of %1 is %2 characters long; a setting can hold at most %3.")
                            .arg(key)
                            .arg(value->size())
                            .arg(modINI::MaxValueLength));
    }
    // One rewrite for both: a failure part way cannot leave one saved without the other.
    if (!modINI::WriteINIValues(kSection, {{kAdminGroupKey, adminGroup}, {kUserPathKey, userPath}}, file))
        return fail(modINI::LastWriteError());
    return true;
}
