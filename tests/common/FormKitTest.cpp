#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/QtSeams.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

// A caption wider than its box grows to show whole: to the right, to the left
// when right-aligned (its right edge stays put), downwards when it wraps. A
// caption that fits and a picture keep their boxes.
TEST(FormKit, fitLabelsGrowsEachCutCaptionTheWayItIsAligned)
{
    QWidget form;
    form.resize(600, 400);
    const QString longText = "A caption far wider than the box it was given";
    QLabel* left = FormKit::makeLabel(&form, "left", QRect(10, 10, 40, 15), longText);
    QLabel* right = FormKit::makeLabel(&form, "right", QRect(400, 40, 40, 15), longText);
    right->setAlignment(Qt::AlignRight | Qt::AlignTop);
    QLabel* wrap = FormKit::makeLabel(&form, "wrap", QRect(10, 70, 120, 15), longText + " " + longText);
    wrap->setWordWrap(true);
    QLabel* fits = FormKit::makeLabel(&form, "fits", QRect(10, 200, 300, 15), "OK");
    QLabel* picture = FormKit::makePicture(&form, "picture", QRect(10, 250, 20, 20), ":/images/logo.png");

    FormKit::fitLabels(&form);
    const int need = left->fontMetrics().horizontalAdvance(longText);
    EXPECT_EQ(left->geometry().topLeft(), QPoint(10, 10));
    EXPECT_GE(left->width(), need);
    EXPECT_EQ(right->geometry().right(), 439) << "a right-aligned caption keeps its right edge";
    EXPECT_GE(right->width(), need);
    EXPECT_EQ(wrap->width(), 120);
    EXPECT_GT(wrap->height(), 15);
    EXPECT_GE(wrap->height(), wrap->heightForWidth(120));
    EXPECT_EQ(fits->geometry(), QRect(10, 200, 300, 15));
    EXPECT_EQ(picture->geometry(), QRect(10, 250, 20, 20));
}

// Box texts carry paths, DNs and server messages. Shown as rich text, an
// <img> in such a name would make the box open that file as root: a FIFO
// there would hang the program. The box must show the text as it is.
TEST(MessageBox, aTagInTheTextIsShownNotFollowed)
{
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("pipe"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Whoever opens the FIFO to read lets this writer in: that is the box following the tag.
    std::atomic<bool> stop{false}, opened{false};
    std::thread writer([&] {
        while (!stop) { // on to the end: the box may open it more than once
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                opened = true;
                ::close(fd); // the reader sees the end at once
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    QtSeams::InstallDefaults();
    const QString text = QStringLiteral("Cannot read <img src=\"%1\"> now").arg(QString::fromLocal8Bit(fifo));
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        QTest::qWait(100); // drawn, and the writer had its chances
        for (QLabel* label : box->findChildren<QLabel*>())
            if (label->text().contains(QLatin1String("Cannot read")) && !label->grab().isNull()) // painted
                shown = label->text();
        box->accept();
    });
    const MsgBoxAnswer answer = MsgBox(text);
    SetMsgBoxHandler(nullptr);
    stop = true;
    writer.join();
    EXPECT_EQ(answer, MsgBoxAnswer::OK);
    EXPECT_EQ(shown, text);
    EXPECT_FALSE(opened) << "the box opened the file named in the text";
}
