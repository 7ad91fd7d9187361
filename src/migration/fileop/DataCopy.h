// Moves one regular file's data, holes kept, and nothing else.
#pragma once

#include <QtGlobal>

#include <sys/stat.h>

#include <atomic>

namespace fileop {

// The state one file's data copy carries through its ranges.
struct DataCopy {
    int in = -1;
    int out = -1;
    const std::atomic<bool>& cancel; // the run's: ECANCELED between chunks once set
    std::atomic<qint64>& bytesDone;
    std::atomic<bool>* rangeCopy = nullptr; // shared by the run: cleared once copy_file_range cannot work here
    bool onTarget = false;                  // the failure, if any, was the target's
};

// Copies st.st_size bytes from c.in to c.out; of a sparse file only the data
// extents, so the holes stay holes. 0 or errno.
int copyData(DataCopy& c, const struct stat& st);

} // namespace fileop
