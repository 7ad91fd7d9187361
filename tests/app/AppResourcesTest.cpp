#include "app/AppResources.h"

#include <QBitmap>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(AppResources, everyPictureIsBuiltIntoThePrograms)
{
    // No Init() call here: linking the program's libraries is enough.
    for (const char* name : {"logo", "settings", "migrate", "updatead", "about"}) {
        const QImage img(QStringLiteral(":/images/%1.png").arg(QLatin1String(name)));
        ASSERT_FALSE(img.isNull()) << name;
        EXPECT_EQ(img.size(), QSize(64, 64)) << name;
        EXPECT_TRUE(img.hasAlphaChannel()) << name;
        // Drawn, not blank: the centre region holds opaque pixels.
        int opaque = 0;
        for (int y = 16; y < 48; ++y)
            for (int x = 16; x < 48; ++x)
                opaque += qAlpha(img.pixel(x, y)) == 255;
        EXPECT_GT(opaque, 100) << name;
    }
    AppResources::Init(); // harmless again
    EXPECT_EQ(QImage(":/images/icon.png").size(), QSize(128, 128));
}

TEST(AppResources, pointCurIsACursorFileWithItsHotSpotOnTheFingertip)
{
    const QCursor cursor = AppResources::LoadCursorFile(QStringLiteral(CORVANE_SOURCE_DIR "/resources/point.cur"));
    ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
    const QImage img = cursor.pixmap().toImage();
    EXPECT_EQ(img.size(), QSize(32, 32));
    EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1));
    EXPECT_EQ(qAlpha(img.pixel(0, 31)), 0);   // transparent around the hand
    EXPECT_EQ(qAlpha(img.pixel(12, 8)), 255); // inside the index finger
    EXPECT_GT(qGray(img.pixel(12, 8)), 200);  // white hand
    // The copy beside the program is the same file.
    QFile beside(QStringLiteral(CORVANE_APP_DIR "/point.cur"));
    QFile source(QStringLiteral(CORVANE_SOURCE_DIR "/resources/point.cur"));
    ASSERT_TRUE(beside.open(QIODevice::ReadOnly));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(beside.readAll(), source.readAll());
}

TEST(AppResources, missingOrDamagedCursorFileGivesThePointingHand)
{
    QTemporaryDir dir;
    EXPECT_EQ(AppResources::LoadCursorFile(dir.path() + "/point.cur").shape(), Qt::PointingHandCursor);
    QFile junk(dir.path() + "/junk.cur");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    static const char header[] = "\0\0\2\0\1\0 not really a cursor"; // a cursor file's first bytes, then junk
    junk.write(header, sizeof header - 1);
    junk.close();
    EXPECT_EQ(AppResources::LoadCursorFile(junk.fileName()).shape(), Qt::PointingHandCursor);
}
