#include "app/AppResources.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(AppResources, pointCurGivesItsHandAndAMissingOrDamagedFileThePointingHand)
{
    const QCursor cursor = AppResources::LoadCursorFile(QStringLiteral(CORVANE_APP_DIR "/point.cur"));
    ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1));
    EXPECT_EQ(qAlpha(cursor.pixmap().toImage().pixel(12, 8)), 255); // inside the index finger
    QTemporaryDir dir;
    EXPECT_EQ(AppResources::LoadCursorFile(dir.path() + "/point.cur").shape(), Qt::PointingHandCursor);
    QFile junk(dir.path() + "/junk.cur");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    static const char header[] = "\0\0\2\0\1\0 not really a cursor"; // a cursor file's first bytes, then junk
    junk.write(header, sizeof header - 1);
    junk.close();
    EXPECT_EQ(AppResources::LoadCursorFile(junk.fileName()).shape(), Qt::PointingHandCursor);
}
