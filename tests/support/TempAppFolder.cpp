#include "TempAppFolder.h"

#include "common/modMain.h"

#include <QDir>
#include <QFile>

TempAppFolder::TempAppFolder(bool withSubfolders)
{
    if (withSubfolders) {
        QDir d(m_dir.path());
        d.mkdir("logs");
        d.mkdir("settings");
        d.mkdir("resources");
    }
    modMain::SetApplicationFolder(m_dir.path());
}

TempAppFolder::~TempAppFolder()
{
    modMain::SetApplicationFolder(QString());
}

QByteArray TempAppFolder::readFile(const QString& relative) const
{
    QFile f(path() + "/" + relative);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TempAppFolder::writeFile(const QString& relative, const QByteArray& data) const
{
    QFile f(path() + "/" + relative);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size() && f.flush();
}
