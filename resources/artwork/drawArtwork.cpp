// Draws Corvane's pictures and its pointing-hand cursor. The PNG files and
// point.cur in resources/ are this program's output, committed so that a
// build needs no drawing step; run scripts/draw-artwork.sh after a change here.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

// Every picture is drawn on a 64 x 64 grid and scaled to the size asked for.
QImage canvas(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void begin(QPainter& p, int size)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / 64.0, size / 64.0);
}

QLinearGradient vertical(qreal top, qreal bottom, const QColor& a, const QColor& b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

void drawMonitor(QPainter& p, const QRectF& r)
{
    const QColor frame(0x37, 0x47, 0x4f);
    p.setPen(Qt::NoPen);
    p.setBrush(frame);
    p.drawRoundedRect(r, 2.5, 2.5);
    const QRectF screen = r.adjusted(2.5, 2.5, -2.5, -2.5);
    p.setBrush(vertical(screen.top(), screen.bottom(), QColor(0x81, 0xd4, 0xfa), QColor(0x02, 0x77, 0xbd)));
    p.drawRect(screen);
    // a glint across the screen
    QPainterPath glint;
    glint.moveTo(screen.topLeft());
    glint.lineTo(screen.left() + screen.width() * 0.55, screen.top());
    glint.lineTo(screen.left(), screen.top() + screen.height() * 0.7);
    glint.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 60));
    p.drawPath(glint);
    // neck and foot
    const qreal cx = r.center().x();
    p.setBrush(frame);
    p.drawRect(QRectF(cx - 2.5, r.bottom(), 5, 4));
    p.drawRoundedRect(QRectF(cx - 8, r.bottom() + 3.5, 16, 3), 1.5, 1.5);
}

void drawPerson(QPainter& p, const QPointF& headCentre, qreal headRadius, const QBrush& brush, const QColor& outline)
{
    p.setPen(outline.isValid() ? QPen(outline, 1.0) : QPen(Qt::NoPen));
    p.setBrush(brush);
    const qreal r = headRadius;
    QPainterPath body;
    const qreal top = headCentre.y() + r * 1.15;
    const qreal w = r * 2.1;
    const qreal bottom = top + r * 2.0;
    body.moveTo(headCentre.x() - w, bottom);
    body.lineTo(headCentre.x() - w, top + r * 0.9);
    body.quadTo(headCentre.x() - w, top, headCentre.x() - w + r * 0.9, top);
    body.lineTo(headCentre.x() + w - r * 0.9, top);
    body.quadTo(headCentre.x() + w, top, headCentre.x() + w, top + r * 0.9);
    body.lineTo(headCentre.x() + w, bottom);
    body.closeSubpath();
    p.drawPath(body);
    p.drawEllipse(headCentre, r, r);
}

QImage drawLogo(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    begin(p, size);
    // the network line joining the screen and the person, with a node at each end
    p.setPen(QPen(QColor(0x2e, 0x7d, 0x32), 2.2, Qt::SolidLine, Qt::RoundCap));
    QPainterPath link;
    link.moveTo(17, 36);
    link.lineTo(17, 56);
    link.lineTo(48, 56);
    link.lineTo(48, 46);
    p.setBrush(Qt::NoBrush);
    p.drawPath(link);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x7d, 0x32));
    p.drawEllipse(QPointF(32.5, 56), 3.2, 3.2);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(32.5, 56), 1.3, 1.3);
    drawMonitor(p, QRectF(3, 8, 28, 22));
    QLinearGradient shirt = vertical(30, 52, QColor(0xff, 0xb7, 0x4d), QColor(0xef, 0x6c, 0x00));
    drawPerson(p, QPointF(48, 27), 6.5, shirt, QColor());
    return img;
}

QImage drawToolbox(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    begin(p, size);
    // tools standing out of the open box: a screwdriver and a spanner
    p.setPen(Qt::NoPen);
    p.save();
    p.translate(22, 26);
    p.rotate(-18);
    p.setBrush(QColor(0x9e, 0x9e, 0x9e));
    p.drawRect(QRectF(-1.3, -20, 2.6, 16));
    p.setBrush(vertical(-6, 6, QColor(0xff, 0xd5, 0x4f), QColor(0xf9, 0xa8, 0x25)));
    p.drawRoundedRect(QRectF(-3.2, -6, 6.4, 12), 2, 2);
    p.restore();
    p.save();
    p.translate(42, 24);
    p.rotate(20);
    p.setBrush(QColor(0x78, 0x90, 0x9c));
    p.drawRoundedRect(QRectF(-2.2, -14, 4.4, 22), 1.5, 1.5);
    QPainterPath jaw;
    jaw.addEllipse(QPointF(0, -16), 5.2, 5.2);
    QPainterPath gap;
    gap.addRect(QRectF(-1.8, -23, 3.6, 8));
    p.drawPath(jaw.subtracted(gap));
    p.restore();
    // the handle, then the box with its lid line and clasp
    p.setPen(QPen(QColor(0x42, 0x42, 0x42), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(24, 20, 16, 12), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(28, 58, QColor(0xef, 0x53, 0x50), QColor(0xb7, 0x1c, 0x1c)));
    p.drawRoundedRect(QRectF(5, 28, 54, 30), 4, 4);
    p.setBrush(QColor(0x8e, 0x16, 0x16));
    p.drawRect(QRectF(5, 37, 54, 2.5));
    p.setBrush(vertical(34, 44, QColor(0xe0, 0xe0, 0xe0), QColor(0x9e, 0x9e, 0x9e)));
    p.drawRoundedRect(QRectF(27, 34, 10, 9), 1.5, 1.5);
    return img;
}

QImage drawServer(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    begin(p, size);
    p.setPen(Qt::NoPen);
    // the tower, lit from the left
    QLinearGradient side(16, 0, 48, 0);
    side.setColorAt(0, QColor(0x60, 0x7d, 0x8b));
    side.setColorAt(1, QColor(0x26, 0x32, 0x38));
    p.setBrush(side);
    p.drawRoundedRect(QRectF(16, 3, 32, 58), 3, 3);
    p.setBrush(QColor(0x1c, 0x25, 0x29));
    p.drawRect(QRectF(19, 6, 26, 52));
    // three drive bays
    for (int i = 0; i < 3; ++i) {
        const qreal y = 9 + i * 8.5;
        p.setBrush(vertical(y, y + 6, QColor(0x90, 0xa4, 0xae), QColor(0x54, 0x6e, 0x7a)));
        p.drawRoundedRect(QRectF(21, y, 22, 6), 1, 1);
        p.setBrush(QColor(0x26, 0x32, 0x38));
        p.drawRect(QRectF(24, y + 2.5, 12, 1.2));
        p.setBrush(i == 1 ? QColor(0xff, 0xb3, 0x00) : QColor(0x76, 0xff, 0x03));
        p.drawEllipse(QPointF(39.5, y + 3), 1.4, 1.4);
    }
    // vents and the power button
    p.setBrush(QColor(0x37, 0x47, 0x4f));
    for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF(22, 37 + i * 3.5, 20, 1.6), 0.8, 0.8);
    p.setBrush(QColor(0x4f, 0xc3, 0xf7));
    p.drawEllipse(QPointF(32, 54), 2.6, 2.6);
    p.setBrush(QColor(0x1c, 0x25, 0x29));
    p.drawEllipse(QPointF(32, 54), 1.2, 1.2);
    return img;
}

QImage drawSilhouette(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    begin(p, size);
    QRadialGradient grey(QPointF(26, 20), 40);
    grey.setColorAt(0, QColor(0xbd, 0xbd, 0xbd));
    grey.setColorAt(1, QColor(0x61, 0x61, 0x61));
    drawPerson(p, QPointF(32, 17), 11, grey, QColor());
    return img;
}

void drawBubble(QPainter& p, const QRectF& r, bool tailLeft, const QBrush& fill, const QColor& edge,
                const QColor& markColour)
{
    QPainterPath bubble;
    bubble.addRoundedRect(r, r.height() * 0.45, r.height() * 0.45);
    QPainterPath tail;
    const qreal tx = tailLeft ? r.left() + r.width() * 0.25 : r.right() - r.width() * 0.25;
    tail.moveTo(tx - 4, r.bottom() - 3);
    tail.lineTo(tailLeft ? tx - 7 : tx + 7, r.bottom() + 8);
    tail.lineTo(tx + 4, r.bottom() - 3);
    tail.closeSubpath();
    p.setPen(QPen(edge, 1.4));
    p.setBrush(fill);
    p.drawPath(bubble.united(tail));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(qRound(r.height() * 0.78));
    p.setFont(f);
    p.setPen(markColour);
    p.drawText(r, Qt::AlignCenter, QStringLiteral("?"));
}

QImage drawBubbles(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    begin(p, size);
    drawBubble(p, QRectF(22, 6, 38, 26), false, vertical(6, 32, QColor(0xff, 0xf1, 0x76), QColor(0xfb, 0xc0, 0x2d)),
               QColor(0xc4, 0x8f, 0x00), QColor(0x5d, 0x40, 0x37));
    drawBubble(p, QRectF(4, 24, 38, 26), true, vertical(24, 50, QColor(0x64, 0xb5, 0xf6), QColor(0x15, 0x65, 0xc0)),
               QColor(0x0d, 0x47, 0xa1), Qt::white);
    return img;
}

// A white hand with a black outline, the index finger up; its tip is the hot spot.
QImage drawHand(QPoint* hotSpot)
{
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath hand;
    hand.addRoundedRect(QRectF(9.5, 0.5, 5, 17), 2.5, 2.5);    // index finger
    hand.addRoundedRect(QRectF(14, 9.5, 4.5, 9), 2.2, 2.2);    // middle finger
    hand.addRoundedRect(QRectF(18, 10.5, 4.5, 8.5), 2.2, 2.2); // ring finger
    hand.addRoundedRect(QRectF(22, 12, 4.5, 8), 2.2, 2.2);     // little finger
    hand.addRoundedRect(QRectF(9.5, 14, 17, 13), 4, 4);        // palm
    QPainterPath thumb;
    thumb.moveTo(10, 22);
    thumb.lineTo(4.5, 15.5);
    thumb.quadTo(2.5, 13.5, 4.5, 12.8);
    thumb.quadTo(6.5, 12.2, 8, 14);
    thumb.lineTo(11, 17);
    thumb.closeSubpath();
    hand = hand.united(thumb).simplified();
    p.setPen(QPen(Qt::black, 1.0));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    // the cuff line below the palm
    p.setPen(QPen(Qt::black, 1.0));
    p.drawLine(QPointF(12, 28.5), QPointF(24, 28.5));
    p.end();
    *hotSpot = QPoint(12, 1);
    return img;
}

void put16(QByteArray& b, int v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

void put32(QByteArray& b, quint32 v)
{
    put16(b, int(v & 0xffff));
    put16(b, int(v >> 16));
}

// A classic cursor file: one 32 x 32 entry, a 32-bit BGRA bitmap with its AND mask.
QByteArray curFile(const QImage& image, QPoint hotSpot)
{
    const int w = image.width();
    const int h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray bitmap;
    put32(bitmap, 40);
    put32(bitmap, quint32(w));
    put32(bitmap, quint32(h * 2)); // colour rows plus mask rows
    put16(bitmap, 1);
    put16(bitmap, 32);
    put32(bitmap, 0);
    put32(bitmap, quint32(w * h * 4 + maskStride * h));
    for (int i = 0; i < 4; ++i)
        put32(bitmap, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const QRgb px = image.pixel(x, y);
            bitmap.append(char(qBlue(px)));
            bitmap.append(char(qGreen(px)));
            bitmap.append(char(qRed(px)));
            bitmap.append(char(qAlpha(px)));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x)
            if (qAlpha(image.pixel(x, y)) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        bitmap.append(row);
    }
    QByteArray file;
    put16(file, 0);
    put16(file, 2); // 2 = cursor
    put16(file, 1);
    file.append(char(w));
    file.append(char(h));
    file.append('\0');
    file.append('\0');
    put16(file, hotSpot.x());
    put16(file, hotSpot.y());
    put32(file, quint32(bitmap.size()));
    put32(file, 22);
    return file + bitmap;
}

bool save(const QImage& img, const QString& path)
{
    if (!img.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RESOURCES-FOLDER\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir + "/images");
    bool ok =
        save(drawLogo(64), dir + "/images/logo.png") && save(drawLogo(128), dir + "/images/icon.png") &&
        save(drawToolbox(64), dir + "/images/settings.png") && save(drawServer(64), dir + "/images/migrate.png") &&
        save(drawSilhouette(64), dir + "/images/updatead.png") && save(drawBubbles(64), dir + "/images/about.png");
    QPoint hot;
    const QImage hand = drawHand(&hot);
    QFile cur(dir + "/point.cur");
    ok = ok && cur.open(QIODevice::WriteOnly) && cur.write(curFile(hand, hot)) > 0 && cur.flush();
    return ok ? 0 : 1;
}
