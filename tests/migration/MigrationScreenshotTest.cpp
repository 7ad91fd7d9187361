// Renders the migration windows (saved as PNGs by scripts/screenshots.sh) and
// checks what must be visible on them.
#include "Screenshot.h"

#include "common/FormKit.h"
#include "common/modMain.h"
#include "migration/FileOpProgressDialog.h"
#include "migration/FileOpQuestionDialog.h"
#include "migration/frmMigrate.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace fileop;

namespace {

bool hasColour(const QImage& image, const QRect& area, const QColor& colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == colour)
                return true;
    return false;
}

} // namespace

TEST(MigrationScreenshots, migrationForm)
{
    modMain::ComposeAppCaption();
    FormKit::InstallFontSubstitutes(); // as the program does at start
    modMain::SetMainMenuHandler([] {});
    auto* form = new frmMigrate;
    form->Text1->setText(QStringLiteral("/srv/old-server/home"));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    const QImage shot = renderWindow(form, QStringLiteral("frmMigrate"));
    ASSERT_EQ(shot.size(), form->size());
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::white));
    EXPECT_TRUE(hasColour(shot, form->Label1->geometry(), form->Label1->palette().color(QPalette::WindowText)))
        << "the title is drawn in the highlight colour";
    const QRect box = form->Text2->geometry().adjusted(4, 4, -4, -4);
    EXPECT_TRUE(hasColour(shot, box, QColor(0xE0, 0xE0, 0xE0))) << "the path boxes are light grey";
    form->close();
    modMain::SetMainMenuHandler({});
}

TEST(MigrationScreenshots, progressDialog)
{
    modMain::ComposeAppCaption();
    FormKit::InstallFontSubstitutes(); // as the program does at start
    FileOpProgressDialog d(nullptr, FO_COPY);
    Progress p;
    p.filesDone = 12034;
    p.filesTotal = 30278;
    p.bytesDone = 1310000000;
    p.bytesTotal = 3270000000;
    p.elapsedMs = 5200;
    p.currentFile = QStringLiteral("/srv/old-server/home/u0142/Pictures/Klassenfahrt 2023/Video 01.mp4");
    d.setProgress(p);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    const QImage shot = renderWindow(&d, QStringLiteral("FileOpProgressDialog"));
    ASSERT_EQ(shot.size(), d.size());
    EXPECT_EQ(d.lblAction->text(), "Copying files...");
    EXPECT_EQ(d.ProgressBar1->value(), 400);
    EXPECT_TRUE(d.cmdCancel->isVisible());
    EXPECT_LE(d.lblCurrent->fontMetrics().horizontalAdvance(d.lblCurrent->text()), d.lblCurrent->width());
}

TEST(MigrationScreenshots, replaceQuestion)
{
    modMain::ComposeAppCaption();
    FormKit::InstallFontSubstitutes(); // as the program does at start
    Conflict c{Conflict::Kind::File, QStringLiteral("/srv/old-server/home/u0001/Documents/Aufsatz 003.docx"),
               QStringLiteral("/srv/new/home/u0001/Documents/Aufsatz 003.docx")};
    FileOpQuestionDialog d(
        nullptr, FileOpQuestionDialog::replaceText(c),
        {QStringLiteral("&Yes"), QStringLiteral("Yes to &All"), QStringLiteral("&No"), QStringLiteral("Cancel")},
        {"cmdYes", "cmdYesToAll", "cmdNo", "cmdCancel"});
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    const QImage shot = renderWindow(&d, QStringLiteral("FileOpQuestionDialog"));
    ASSERT_EQ(shot.size(), d.size());
    for (const char* name : {"cmdYes", "cmdYesToAll", "cmdNo", "cmdCancel"}) {
        auto* b = d.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(b, nullptr) << name;
        EXPECT_TRUE(b->isVisible()) << name;
        EXPECT_TRUE(d.rect().contains(b->geometry())) << name;
    }
    EXPECT_TRUE(d.findChild<QLabel*>("lblQuestion")->text().contains("Aufsatz 003.docx"));
}
