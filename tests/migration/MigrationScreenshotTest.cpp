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
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace fileop;

namespace {
// Every one-line caption shows whole, inside the window.
void expectCaptionsFit(const QWidget* window)
{
    for (const QLabel* l : window->findChildren<QLabel*>()) {
        if (l->text().isEmpty() || l->wordWrap())
            continue;
        SCOPED_TRACE(l->objectName().toStdString());
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width());
        EXPECT_TRUE(window->rect().contains(QRect(l->mapTo(window, QPoint(0, 0)), l->size())));
    }
}
} // namespace

TEST(MigrationScreenshots, theFormAndItsDialogsRenderWithEverythingVisible)
{
    modMain::ComposeAppCaption();
    FormKit::InstallFontSubstitutes(); // as the program does at start
    modMain::SetMainMenuHandler([] {});
    auto* form = new frmMigrate;
    form->Text1->setText(QStringLiteral("/srv/old-server/home"));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    renderWindow(form, QStringLiteral("frmMigrate"));
    expectCaptionsFit(form);
    form->close();
    modMain::SetMainMenuHandler({});

    FileOpProgressDialog progress(nullptr, FO_COPY);
    Progress p{12034, 30278, 1310000000, 3270000000, false, 5200, {}, false};
    p.currentFile = QStringLiteral("/srv/old-server/home/u0142/Pictures/Klassenfahrt 2023/Video 01.mp4");
    p.filesUpToDate = 11870; // a second pass
    progress.setProgress(p);
    progress.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&progress));
    renderWindow(&progress, QStringLiteral("FileOpProgressDialog"));
    EXPECT_LE(progress.lblCurrent->fontMetrics().horizontalAdvance(progress.lblCurrent->text()),
              progress.lblCurrent->width())
        << "a long current path is elided to fit";
    p.counting = true; // the tree is still being read
    progress.setProgress(p);
    renderWindow(&progress, QStringLiteral("FileOpProgressDialog-counting"));
    for (const QLabel* l : {progress.lblCounts, progress.lblRate})
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << l->text().toStdString();

    Conflict c{Conflict::Kind::File, QStringLiteral("/srv/old-server/home/u0001/Documents/Aufsatz 003.docx"),
               QStringLiteral("/srv/new/home/u0001/Documents/Aufsatz 003.docx")};
    FileOpQuestionDialog d(nullptr, FileOpQuestionDialog::replaceText(c), {"&Yes", "Yes to &All", "&No", "Cancel"},
                           {"cmdYes", "cmdYesToAll", "cmdNo", "cmdCancel"});
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    renderWindow(&d, QStringLiteral("FileOpQuestionDialog"));
    EXPECT_TRUE(d.rect().contains(d.findChild<QPushButton*>("cmdCancel")->geometry())) << "the last button fits";
    EXPECT_TRUE(d.findChild<QLabel*>("lblQuestion")->text().contains("Aufsatz 003.docx"));
}
