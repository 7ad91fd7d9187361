#pragma once

#include <QString>
#include <QtGlobal>

// The byte counts the live-update wizard shows. Units are decimal (1 KB = 1000
// bytes); the unit is chosen from the total alone so both numbers agree; two
// decimals with the locale's decimal separator and no digit grouping.
namespace liveupdate {

// value / divisor as "#0.00", rounded half away from zero, in the current locale.
QString FormatFixed2(qint64 value, qint64 divisor);

// "512 bytes of 2048 bytes of configuration retreived."
QString ConfigProgressText(qint64 bytesRead, qint64 total);
// "0.25 KB of 1.50 KB downloaded..." / "1.20 MB of 3.45 MB downloaded..."
QString FileProgressText(qint64 bytesRead, qint64 total);
// "Download of 2.35 MB complete."
QString FileCompleteText(qint64 total);

} // namespace liveupdate
