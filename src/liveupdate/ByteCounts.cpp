#include "ByteCounts.h"

#include <QLocale>

namespace liveupdate {
namespace {

constexpr qint64 kKilo = 1000;
constexpr qint64 kMega = 1000000;

bool inMegabytes(qint64 total)
{
    return total / kKilo >= 1000; // i.e. at least 1,000,000 bytes
}

} // namespace

QString FormatFixed2(qint64 value, qint64 divisor)
{
    // Integer hundredths: binary fractions would round 0.125 down.
    const bool negative = value < 0;
    const qint64 magnitude = negative ? -value : value;
    const qint64 hundredths = (magnitude * 100 + divisor / 2) / divisor;
    const QString digits = QStringLiteral("%1%2%3")
                               .arg(hundredths / 100)
                               .arg(QLocale().decimalPoint())
                               .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    return negative && hundredths != 0 ? QStringLiteral("-") + digits : digits;
}

QString ConfigProgressText(qint64 bytesRead, qint64 total)
{
    return QStringLiteral("%1 bytes of %2 bytes of configuration retreived.").arg(bytesRead).arg(total);
}

QString FileProgressText(qint64 bytesRead, qint64 total)
{
    const bool mb = inMegabytes(total);
    const qint64 divisor = mb ? kMega : kKilo;
    const QLatin1String unit = mb ? QLatin1String(" MB") : QLatin1String(" KB");
    return FormatFixed2(bytesRead, divisor) + unit + QStringLiteral(" of ") + FormatFixed2(total, divisor) + unit +
           QStringLiteral(" downloaded...");
}

QString FileCompleteText(qint64 total)
{
    const bool mb = inMegabytes(total);
    return QStringLiteral("Download of ") + FormatFixed2(total, mb ? kMega : kKilo) +
           (mb ? QLatin1String(" MB complete.") : QLatin1String(" KB complete."));
}

} // namespace liveupdate
