#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points the live update at throw-away folders for one scope: "TEMP" at a
// temporary folder, and the XDG desktop folder (through a user-dirs.dirs in a
// private XDG_CONFIG_HOME) at a temporary desktop. The old environment comes back.
class LiveUpdateEnvironment {
public:
    explicit LiveUpdateEnvironment(bool createDesktop = true);
    ~LiveUpdateEnvironment();
    LiveUpdateEnvironment(const LiveUpdateEnvironment&) = delete;
    LiveUpdateEnvironment& operator=(const LiveUpdateEnvironment&) = delete;

    QString tempFolder() const { return m_root.path() + "/temp/"; }
    QString desktopFolder() const { return m_root.path() + "/Desktop/"; }
    QString configFilePath() const { return tempFolder() + "_vclu.txt"; }
    QString root() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
    QByteArray m_oldTemp;
    QByteArray m_oldConfigHome;
    bool m_hadTemp;
    bool m_hadConfigHome;
};
