#include "DirectorySettings.h"

#include "common/modMain.h"

#include <QFile>

namespace DirectorySettings {

QString SettingsFile()
{
    return modMain::ApplicationFolder() + QStringLiteral("/settings/corvane.ini");
}

// Interim reader until the settings store lands: same file, section and key
// rules (names without regard to case, enclosing quotes dropped, 254 characters).
QString Read(const QString& key)
{
    QFile f(SettingsFile());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inSection = false;
    while (!f.atEnd()) {
        const QString line = QString::fromLocal8Bit(f.readLine()).trimmed();
        if (line.startsWith('[')) {
            inSection = line.mid(1, line.indexOf(']') - 1).trimmed().compare("SETTINGS", Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!inSection || eq < 0 || line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QString value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value.left(254);
    }
    return {};
}

} // namespace DirectorySettings
