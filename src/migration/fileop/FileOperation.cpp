// Result codes for errno values, failure texts and "Copy of" names.
#include "FileOperation.h"

#include <QDateTime>
#include <QLocale>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace fileop {

QString resultText(int result)
{
    switch (result) {
    case Success:
        return QStringLiteral("success: everything was done");
    case SourceMissing:
        return QStringLiteral("the source, or a file of it, does not exist");
    case PathNotFound:
        return QStringLiteral("a path is empty, or a missing destination could not be created without asking");
    case AccessDenied:
        return QStringLiteral("access denied");
    case WriteProtected:
        return QStringLiteral("the file system is read-only");
    case GeneralFailure:
        return QStringLiteral("another failure (see the items listed)");
    case NetworkPathNotFound:
        return QStringLiteral("a network path whose share is not mounted on this computer");
    case FileExists:
        return QStringLiteral("a name was taken and could not be replaced");
    case DiskFull:
        return QStringLiteral("the disk or the quota is full");
    case NameTooLong:
        return QStringLiteral("a name or path is too long");
    case SameFile:
        return QStringLiteral("source and target are the same");
    case DestinationInsideSource:
        return QStringLiteral("the destination lies inside the source");
    case SourceInsideDestination:
        return QStringLiteral("the source lies inside the existing target");
    case DestinationIsFile:
        return QStringLiteral("the destination is a file, or a file stands where a folder should be");
    case FileDestinationIsFolder:
        return QStringLiteral("a folder stands where a file should be");
    case IoError:
        return QStringLiteral("a read or write error of the device");
    case Cancelled:
        return QStringLiteral("cancelled, or an item kept or skipped by an answer");
    default:
        return QStringLiteral("unknown result");
    }
}

const QList<int>& resultCodes()
{
    static const QList<int> codes{Success,
                                  SourceMissing,
                                  PathNotFound,
                                  AccessDenied,
                                  WriteProtected,
                                  GeneralFailure,
                                  NetworkPathNotFound,
                                  FileExists,
                                  DiskFull,
                                  NameTooLong,
                                  SameFile,
                                  DestinationInsideSource,
                                  SourceInsideDestination,
                                  DestinationIsFile,
                                  FileDestinationIsFolder,
                                  IoError,
                                  Cancelled};
    return codes;
}

void describeConflict(Conflict& c)
{
    struct stat st {};
    if (::lstat(c.source.toLocal8Bit().constData(), &st) == 0) {
        c.sourceSize = st.st_size;
        c.sourceTimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    if (::lstat(c.target.toLocal8Bit().constData(), &st) == 0) {
        c.targetSize = st.st_size;
        c.targetTimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
}

QString sizeAndTimeText(qint64 size, qint64 timeNs)
{
    if (size < 0)
        return QStringLiteral("size and time unknown");
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(timeNs / 1000000);
    return QStringLiteral("%1 bytes, modified %2")
        .arg(QLocale(QLocale::English).toString(size), when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QString FileError::text() const
{
    if (changedDuringRun)
        return QStringLiteral("Cannot %1 %2: it changed during the run").arg(action, path);
    return QStringLiteral("Cannot %1 %2: %3").arg(action, path, QString::fromLocal8Bit(std::strerror(error)));
}

QByteArray collisionName(const QByteArray& name, int attempt, bool isFolder)
{
    constexpr qsizetype kNameMax = 255;
    const QByteArray prefix =
        attempt <= 1 ? QByteArrayLiteral("Copy of ") : "Copy (" + QByteArray::number(attempt) + ") of ";
    if (prefix.size() + name.size() <= kNameMax)
        return prefix + name;

    // Too long: shorten the stem, keep a file's extension, never split a UTF-8 sequence.
    QByteArray stem = name;
    QByteArray ext;
    const qsizetype dot = name.lastIndexOf('.');
    if (!isFolder && dot > 0 && name.size() - dot <= 32) {
        stem = name.left(dot);
        ext = name.mid(dot);
    }
    qsizetype keep = kNameMax - prefix.size() - ext.size();
    while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
        --keep;
    return prefix + stem.left(keep) + ext;
}

} // namespace fileop
