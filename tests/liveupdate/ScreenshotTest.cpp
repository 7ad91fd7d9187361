#include "Screenshot.h"
#include "LiveUpdateEnvironment.h"
#include "LoopbackHttpServer.h"
#include "app/frmAbout.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Counts pixels that differ clearly from the background, so an empty window fails.
int inkPixels(const QImage& image, const QRect& area)
{
    int n = 0;
    const QRgb background = image.pixel(area.topLeft());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qGray(image.pixel(x, y)) + 60 < qGray(background) ? 1 : 0;
    return n;
}

} // namespace

TEST(Screenshots, aboutBox)
{
    FormKit::InstallFontSubstitutes();
    modMain::ComposeAppCaption();
    modMain::SetMainMenuHandler([] {});
    auto* about = new frmAbout;
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    const QImage image = renderWindow(about, "frmAbout");
    EXPECT_EQ(image.size(), QSize(504, 434));
    // White form; the credit headings and the footer are drawn.
    EXPECT_EQ(QColor(image.pixel(2, 430)), QColor(Qt::white));
    EXPECT_GT(inkPixels(image, about->lblCredit1->geometry().translated(about->frmeCredits->pos())), 40);
    EXPECT_GT(inkPixels(image, about->lblFooter->geometry()), 0);
    delete about;
    modMain::SetMainMenuHandler(nullptr);
}

TEST(Screenshots, updateWizardPages)
{
    FormKit::InstallFontSubstitutes();
    QLocale::setDefault(QLocale::c());
    modMain::ComposeAppCaption();
    LiveUpdateEnvironment env;
    LoopbackHttpServer server;
    server.setRoute("/files/corvane-1.1.tar.gz", {200, QByteArray(350000, 'x')});
    server.setRoute("/corvane/corvane.txt",
                    {200, "Corvane 1.1\r\n1.1.0\r\n" + server.url("/files/corvane-1.1.tar.gz").toUtf8() + "\r\n"});

    QPointer<frmUpdate> dialog = new frmUpdate;
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    c->setConfigFileURL(server.url("/corvane/corvane.txt"));
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    const QImage welcome = renderWindow(dialog, "frmUpdate-1-welcome");
    EXPECT_EQ(welcome.size(), QSize(502, 282));
    EXPECT_GT(inkPixels(welcome, c->lblSTEP1->geometry().translated(c->fraFRAME[0]->pos())), 200);

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->lblYES->isVisible(); }, 20000));
    const QImage check = renderWindow(dialog, "frmUpdate-2-update-available");
    EXPECT_NE(check, welcome);
    EXPECT_GT(inkPixels(check, c->lblYES->geometry().translated(c->fraFRAME[1]->pos())), 100);

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->cmdCANCEL->text() == "Finish"; }, 20000));
    const QImage done = renderWindow(dialog, "frmUpdate-3-downloaded");
    // The three lines of the download caption are all drawn.
    const QRect update = c->lblUPDATE->geometry().translated(c->fraFRAME[2]->pos());
    const int third = update.height() / 3;
    for (int line = 0; line < 3; ++line)
        EXPECT_GT(inkPixels(done, QRect(update.left(), update.top() + line * third, update.width(), third)), 20)
            << "line " << line;
    delete dialog.data();
}
