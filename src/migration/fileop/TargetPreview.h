// Where a request will put its copy, said before anything is written.
#pragma once

#include "FileOperation.h"

#include <QString>

// Where a request will put its copy, said before anything is written: the
// confirmation's line, the command line's first line, and whether the
// destination looks like an earlier copy of the source.
namespace fileop {

struct TargetPreview {
    QString source;           // absolute, as the run will take it
    QString target;           // the folder that will hold the copy
    bool created = false;     // the destination does not exist: it becomes the copy
    bool merged = false;      // the target exists: the two are merged
    bool earlierCopy = false; // see previewTarget
    int namesShared = 0;      // top-level names of the destination that the source has too
    int namesInDestination = 0;
    QString line;    // "/old/Year7 will be copied to /new/homes/Year7."
    QString warning; // for an earlier copy: what this run does instead, and how to update it
};

// The destination looks like an earlier copy of the source when it exists,
// holds no folder of the source's name (so the usual rule would make one
// inside it), and more than half of its top-level names are the source's:
// the same command run twice would otherwise nest a second copy. Only looks:
// it writes nothing and the run checks everything again.
TargetPreview previewTarget(const Request& request);

} // namespace fileop
