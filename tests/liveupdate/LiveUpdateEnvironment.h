#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points "TEMP" and the XDG desktop folder (through a private XDG_CONFIG_HOME)
// at throw-away folders for one scope; the old environment comes back.
class LiveUpdateEnvironment {
public:
    LiveUpdateEnvironment();
    ~LiveUpdateEnvironment();

    QString tempFolder() const { return m_root.path() + "/temp/"; }
    QString desktopFolder() const { return m_root.path() + "/Desktop/"; }
    QString configFilePath() const { return tempFolder() + "_vclu.txt"; }
    QString root() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
    QByteArray m_oldTemp = qgetenv("TEMP");
    QByteArray m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
};
