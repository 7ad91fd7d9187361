#include "LiveUpdateEnvironment.h"

#include <QDir>
#include <QFile>

LiveUpdateEnvironment::LiveUpdateEnvironment(bool createDesktop)
    : m_oldTemp(qgetenv("TEMP"))
    , m_oldConfigHome(qgetenv("XDG_CONFIG_HOME"))
    , m_hadTemp(qEnvironmentVariableIsSet("TEMP"))
    , m_hadConfigHome(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    QDir root(m_root.path());
    root.mkpath("temp");
    root.mkpath("config");
    if (createDesktop)
        root.mkpath("Desktop");
    QFile dirs(m_root.path() + "/config/user-dirs.dirs");
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DESKTOP_DIR=\"" + QFile::encodeName(m_root.path()) + "/Desktop\"\n");
    qputenv("TEMP", QFile::encodeName(m_root.path() + "/temp"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.path() + "/config"));
}

LiveUpdateEnvironment::~LiveUpdateEnvironment()
{
    if (m_hadTemp)
        qputenv("TEMP", m_oldTemp);
    else
        qunsetenv("TEMP");
    if (m_hadConfigHome)
        qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
}
