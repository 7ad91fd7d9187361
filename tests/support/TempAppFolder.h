#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away application folder (logs/, settings/, resources/) that the
// program uses for the life of the object.
class TempAppFolder {
public:
    explicit TempAppFolder(bool withSubfolders = true);
    ~TempAppFolder();
    QString path() const { return m_dir.path(); }
    QString logFile(const QString& logName) const { return path() + "/logs/" + logName + ".txt"; }
    QString iniFile() const { return path() + "/settings/corvane.ini"; }
    QByteArray readFile(const QString& relative) const;
    // Replaces the file's content; false when it could not be written whole.
    bool writeFile(const QString& relative, const QByteArray& data) const;

private:
    QTemporaryDir m_dir;
};
