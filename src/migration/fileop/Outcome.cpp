// The outcome an item's failure gives the run.
#include "Outcome.h"

namespace fileop {

Outcome outcomeOf(const Cause& cause)
{
    if (cause.kind == Cause::Kind::None)
        return Outcome::Success;
    if (cause.kind == Cause::Kind::Cancelled)
        return Outcome::Cancelled;
    if (cause.isChange())
        return Outcome::GeneralFailure;
    switch (cause.error) {
    case ENOENT:
        return Outcome::SourceMissing;
    case ENOTDIR: // a file where a folder should be
        return Outcome::DestinationIsFile;
    case EACCES:
    case EPERM:
        return Outcome::AccessDenied;
    case EROFS:
        return Outcome::WriteProtected;
    case ENOSPC:
    case EDQUOT:
        return Outcome::DiskFull;
    case ENAMETOOLONG:
        return Outcome::NameTooLong;
    case EEXIST:
    case ENOTEMPTY:
        return Outcome::FileExists;
    case EISDIR:
        return Outcome::FileDestinationIsFolder;
    case EIO:
        return Outcome::IoError;
    default:
        return Outcome::GeneralFailure;
    }
}

} // namespace fileop
