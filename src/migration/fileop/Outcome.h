// What a run came to and why an item failed, as the engine's parts pass them on.
#pragma once

#include <cerrno>

namespace fileop {

// A run's (or one step's) outcome. The numbers the form and the CLI read are
// made from it only where they meet the engine.
enum class Outcome {
    Success,
    SourceMissing,
    PathNotFound,
    AccessDenied,
    WriteProtected,
    GeneralFailure,
    FileExists,
    NetworkPathNotFound,
    DiskFull,
    NameTooLong,
    SameFile,
    DestinationInsideSource,
    SourceInsideDestination,
    DestinationIsFile,
    FileDestinationIsFolder,
    IoError,
    Cancelled,
};

// Why an item was not done: a system call's error with its errno, or the item
// is no longer what was listed (a folder swapped for a link, a file for a
// FIFO, a file changed before its source was to be deleted), or the run was
// cancelled while the item was in hand.
struct Cause {
    enum class Kind : unsigned char { None, SystemError, ChangedDuringRun, Cancelled };
    Kind kind = Kind::None;
    int error = 0; // the errno of a SystemError; 0 otherwise

    static Cause system(int e) { return e == 0 ? Cause{} : Cause{.kind = Kind::SystemError, .error = e}; }
    static Cause changed() { return {.kind = Kind::ChangedDuringRun}; }
    static Cause cancelled() { return {.kind = Kind::Cancelled}; }
    // A file opened without following links fails so when it became a link.
    static Cause ofOpen(int e) { return e == ELOOP ? changed() : system(e); }
    // Opened without following links, a folder that became a link or a file
    // fails with ELOOP or ENOTDIR: both mean it changed during the run.
    static Cause ofFolderOpen(int e) { return e == ELOOP || e == ENOTDIR ? changed() : system(e); }

    bool failed() const { return kind != Kind::None; }
    bool isChange() const { return kind == Kind::ChangedDuringRun; }
    bool is(int e) const { return kind == Kind::SystemError && error == e; }
};

// The outcome an item's failure gives the run.
Outcome outcomeOf(const Cause& cause);
// The outcome of a system call that failed with error (its errno).
inline Outcome outcomeOfErrno(int error)
{
    return outcomeOf(Cause::system(error));
}

} // namespace fileop
