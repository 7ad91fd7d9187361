#include "AppResources.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

// Q_INIT_RESOURCE names a global function, so it is called outside any namespace.
static void initCorvaneResources()
{
    Q_INIT_RESOURCE(corvane);
}

namespace AppResources {

void Init()
{
    initCorvaneResources();
}

QCursor LoadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QCursor(Qt::PointingHandCursor);
    // A cursor file keeps its hot spot where an icon keeps planes and bit count;
    // Qt's reader returns only the picture, so the hot spot is read here.
    const QByteArray head = file.peek(22);
    QImageReader reader(&file, "cur");
    const QImage image = reader.read();
    if (image.isNull() || head.size() < 22)
        return QCursor(Qt::PointingHandCursor);
    const auto* d = reinterpret_cast<const uchar*>(head.constData());
    const bool isCursor = qFromLittleEndian<quint16>(d + 2) == 2;
    int hotX = isCursor ? qFromLittleEndian<quint16>(d + 10) : 0;
    int hotY = isCursor ? qFromLittleEndian<quint16>(d + 12) : 0;
    if (hotX >= image.width() || hotY >= image.height())
        hotX = hotY = 0;
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

} // namespace AppResources
