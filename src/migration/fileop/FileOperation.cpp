// Result codes for errno values, failure texts and "Copy of" names.
#include "FileOperation.h"

#include <cerrno>
#include <cstring>

namespace fileop {

int resultForErrno(int error)
{
    switch (error) {
    case 0:
        return Success;
    case ENOENT:
        return SourceMissing;
    case ENOTDIR: // a file where a folder should be
        return DestinationIsFile;
    case EACCES:
    case EPERM:
        return AccessDenied;
    case EROFS:
        return WriteProtected;
    case ENOSPC:
    case EDQUOT:
        return DiskFull;
    case ENAMETOOLONG:
        return NameTooLong;
    case EEXIST:
    case ENOTEMPTY:
        return FileExists;
    case EISDIR:
        return FileDestinationIsFolder;
    case EIO:
        return IoError;
    default:
        return GeneralFailure;
    }
}

QString FileError::text() const
{
    if (error == kChangedDuringRun)
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
