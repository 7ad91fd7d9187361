#include "LiveUpdateEnvironment.h"

#include <QDir>
#include <QFile>

LiveUpdateEnvironment::LiveUpdateEnvironment()
{
    for (const char* folder : {"temp", "config", "Desktop"})
        QDir(m_root.path()).mkpath(folder);
    QFile dirs(m_root.path() + "/config/user-dirs.dirs");
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DESKTOP_DIR=\"" + QFile::encodeName(m_root.path() + "/Desktop") + "\"\n");
    qputenv("TEMP", QFile::encodeName(m_root.path() + "/temp"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.path() + "/config"));
}

LiveUpdateEnvironment::~LiveUpdateEnvironment()
{
    // An empty old value stands for an unset variable.
    m_oldTemp.isEmpty() ? qunsetenv("TEMP") : qputenv("TEMP", m_oldTemp);
    m_oldConfigHome.isEmpty() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
}
