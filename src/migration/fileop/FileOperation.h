// The request, answers and result codes of one move or copy: what the engine shares with the form and the CLI.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <cerrno>
#include <sys/types.h>

namespace fileop {

enum Operation : int { FO_MOVE = 1, FO_COPY = 2 };

enum Flag : int {
    FOF_SILENT = 0x0004,            // no progress dialog; questions still come
    FOF_RENAMEONCOLLISION = 0x0008, // the incoming item gets a "Copy of" name
    FOF_NOCONFIRMATION = 0x0010,    // every question answered Yes to All
    FOF_NOCONFIRMMKDIR = 0x0200,    // a missing destination is created without asking
};

// Result codes: 0 is success, anything else a failure. Windows codes where one exists.
enum Result : int {
    Success = 0,
    SourceMissing = 2,
    PathNotFound = 3,
    AccessDenied = 5,
    WriteProtected = 19,
    GeneralFailure = 31,
    FileExists = 80,
    NetworkPathNotFound = 53, // a \\server\share path whose share is not mounted here
    DiskFull = 112,
    NameTooLong = 206,
    SameFile = 0x71,
    DestinationInsideSource = 0x76,
    SourceInsideDestination = 0x7D, // the target already holds the source: replacing it would destroy it
    DestinationIsFile = 0x7E,
    FileDestinationIsFolder = 0x80,
    IoError = 1117,
    Cancelled = 1223,
};

// The root of a mounted share as it was when a path was mapped onto it: a
// mount laid over it since, or a link put in its place, is another place.
struct MountRoot {
    QString path; // empty: the path was not mapped onto a share
    dev_t device = 0;
    ino_t inode = 0;
};

struct Request {
    int operation = FO_COPY;
    QString source;
    QString destination;
    int flags = 0;
    int workers = 0; // files in flight at once (and folders listed, up to 8); 0 picks the default
    // The destination receives the source's contents (it is created when
    // missing) instead of a folder of the source's name: run twice, the same
    // request updates one copy.
    bool contents = false;
    // Walk both trees and say what would be done to each item; write nothing.
    bool dryRun = false;
    // Files listed ahead of the workers at most: the memory of a walk. 0 picks the default.
    int queueLimit = 0;
    // The shares the source and the destination were mapped onto, as the
    // operator was shown them: the run reads and writes there or nowhere.
    MountRoot destinationMount = {};
    MountRoot sourceMount = {};
};

enum class ReplaceAnswer { Yes, YesToAll, No, Cancel };
enum class ErrorAnswer { Retry, Skip, Cancel, SkipAll }; // SkipAll: this and every later error of the run

// An incoming item whose name is already taken at the target.
struct Conflict {
    enum class Kind { File, Folder };
    Kind kind = Kind::File;
    QString source; // full path of the incoming item
    QString target; // full path of the item already there
    // What the operator compares: sizes in bytes and modification times (ns
    // since the epoch) of both, -1 where unknown. Filled when the question is asked.
    qint64 sourceSize = -1;
    qint64 targetSize = -1;
    qint64 sourceTimeNs = -1;
    qint64 targetTimeNs = -1;
};

// Fills a conflict's sizes and times from the two paths (without following links).
void describeConflict(Conflict& conflict);
// "1,234 bytes, modified 2026-12-06 10:00:01" for one side of a conflict.
QString sizeAndTimeText(qint64 size, qint64 timeNs);

// A failure on one item that the operator may retry or skip.
struct FileError {
    QString path;
    QString action; // "read", "create", "write", "delete" ...
    int error = 0;  // errno, when the failure was a system call's
    // The item is no longer what was listed (a folder swapped for a link, a
    // file for a FIFO, a file changed before its source was to be deleted).
    bool changedDuringRun = false;
    QString text() const;
};

// Answers the engine's questions. Called synchronously on a worker thread,
// one question at a time; the engine remembers "to all" answers itself.
class FileOpQuestions {
public:
    virtual ~FileOpQuestions() = default;
    virtual ReplaceAnswer askReplace(const Conflict& conflict) = 0; // file: replace? folder: merge?
    virtual bool askCreateFolder(const QString& path) = 0;
    virtual ErrorAnswer askError(const FileError& error) = 0;
};

struct Progress {
    qint64 filesDone = 0;  // up-to-date files among them
    qint64 filesTotal = 0; // 0 while unknown
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;
    bool counting = false; // the totals still grow: files are copied while the tree is read
    qint64 elapsedMs = 0;
    QString currentFile;
    bool finished = false;
    qint64 filesUpToDate = 0;   // the target already held them: no data copied
    qint64 filesQueuedPeak = 0; // the most files listed and not yet taken by a worker at once
    qint64 bytesCopied = 0;     // of bytesDone, those actually written (what a rate counts)
};

// What a result code means, in a few words; every code the engine returns has its own.
QString resultText(int result);
// Every result code the engine can return, in order.
const QList<int>& resultCodes();
// How many "Copy (n) of" names, or temporary names, are tried before giving up.
constexpr int kMaxRenameAttempts = 10000;
// The name given to an incoming item on collision: "Copy of name.ext", then
// "Copy (2) of name.ext", ... kept within the 255-byte name limit.
QByteArray collisionName(const QByteArray& name, int attempt, bool isFolder);

} // namespace fileop

Q_DECLARE_METATYPE(fileop::Progress)
