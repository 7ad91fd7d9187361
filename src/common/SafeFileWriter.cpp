#include "SafeFileWriter.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool writeFileAtomically(const QString& path, const QByteArray& content, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QByteArray target = QFile::encodeName(path);
    // The name itself is what gets replaced: a link standing there (planted, or a
    // FIFO or device) is never written through. A regular file keeps its
    // permission bits, but never set-user or set-group ID: the new content is
    // not what was trusted with them, and it belongs to whoever writes it.
    struct stat old {};
    const bool existed = ::lstat(target.constData(), &old) == 0;
    QTemporaryFile file(QFileInfo(path).absolutePath() + QStringLiteral("/.") + QFileInfo(path).fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!file.open())
        return fail(file.errorString());
    const mode_t mode = existed && S_ISREG(old.st_mode) ? old.st_mode & 0777 : 0644;
    if (file.write(content) != content.size() || !file.flush())
        return fail(file.errorString());
    if (::fchmod(file.handle(), mode) != 0 || ::fsync(file.handle()) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (::rename(QFile::encodeName(file.fileName()).constData(), target.constData()) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    file.setAutoRemove(false); // it is the target now
    return true;
}
