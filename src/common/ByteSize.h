#pragma once

#include <QString>

// A byte count as people read it on a progress line: "120.5 MB", in powers of
// 1000 (KB, MB, GB) as file managers show sizes. The live update keeps its own
// wording for its download.
namespace ByteSize {
QString text(qint64 bytes);
} // namespace ByteSize
