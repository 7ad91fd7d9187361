// What the workers do with each queued file: settle a taken name, copy it, keep hard links linked.
#pragma once

#include "FileQueue.h"
#include "FolderTable.h"
#include "HardLinks.h"
#include "RunContext.h"

#include <QByteArray>

#include <atomic>

namespace fileop {

class FileWorkers {
public:
    FileWorkers(RunContext& run, FolderTable& folders, FileQueue& queue)
        : m_run(run)
        , m_folders(folders)
        , m_queue(queue)
    {}

    // One worker: takes files from the queue until it is empty and the walk done.
    void work();
    // After the workers: each further name of a copied inode becomes a hard
    // link to its first copy.
    void linkLaterNames();
    // Counts a file's size in the total once, whoever stats it first.
    void countSize(FileJob& job, qint64 size);

private:
    // The first copy a later name links to.
    struct LinkSource {
        int dir = -1;
        QByteArray name;
        ino_t ino = 0;
        const DirNode* node = nullptr; // the first copy's folder, to name it in a refusal
    };
    // Returns false when the file was left for later (a later name of an inode).
    bool copyFile(FileJob& job, const LinkSource* link = nullptr);

    RunContext& m_run;
    FolderTable& m_folders;
    FileQueue& m_queue;
    // Inodes with more than one name in the tree: the first name met is copied,
    // the later ones wait until the workers are done and become hard links to it.
    HardLinks m_links;
    // Cleared once copy_file_range proves unusable between the two file systems.
    std::atomic<bool> m_rangeCopy{true};
};

} // namespace fileop
