#include "ByteSize.h"

#include <cmath>

namespace ByteSize {

QString text(qint64 bytes)
{
    // The unit follows the rounded figure: 999,999 bytes read "1.0 MB", never "1000.0 KB".
    const double kb = double(bytes) / 1e3;
    if (std::round(kb * 10) < 10000)
        return QStringLiteral("%1 KB").arg(kb, 0, 'f', 1);
    const double mb = double(bytes) / 1e6;
    if (std::round(mb * 10) < 10000)
        return QStringLiteral("%1 MB").arg(mb, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(bytes) / 1e9, 0, 'f', 2);
}

} // namespace ByteSize
