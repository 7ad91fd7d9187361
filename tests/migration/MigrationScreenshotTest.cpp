// Renders the migration windows (saved as PNGs by scripts/screenshots.sh) and
// checks what must be visible on them.
#include "Screenshot.h"
#include "TempAppFolder.h"

#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/QtSeams.h"
#include "common/modMain.h"
#include "migration/FileOpProgressDialog.h"
#include "migration/FileOpQuestionDialog.h"
#include "migration/FileOpRunner.h"
#include "migration/frmMigrate.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

    // The boxes the form shows before a run, as the program's own message boxes draw them.
    TempAppFolder app; // the refusals are logged
    QtSeams::InstallDefaults();
    // Waits for the box (the click may run pending events before it opens), renders it and answers.
    QTimer driver;
    auto renderNextBox = [&driver](const QString& name, QMessageBox::StandardButton answer) {
        driver.disconnect();
        QObject::connect(&driver, &QTimer::timeout, [&driver, name, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            driver.stop();
            renderWindow(box, name);
            ASSERT_NE(box->button(answer), nullptr) << name.toStdString();
            box->button(answer)->click();
        });
        driver.start(20);
    };
    form->Text2->setText(QStringLiteral("\\\\fs1.school.local\\homes$\\Year7"));
    renderNextBox(QStringLiteral("frmMigrate-refused-unmounted-share"), QMessageBox::Ok);
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    QTemporaryDir dir;
    for (const char* rel : {"Year7/u0001", "Year7/u0002", "Year7/u0003", "new/Year7/u0001", "new/Year7/u0002"})
        QDir().mkpath(dir.filePath(QString::fromLatin1(rel)));
    form->Text1->setText(dir.filePath(QStringLiteral("Year7")));
    form->Text2->setText(dir.filePath(QStringLiteral("new/Year7")));
    renderNextBox(QStringLiteral("frmMigrate-earlier-copy"), QMessageBox::Cancel);
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    // The two final boxes with a second pass's numbers, as PerformShellAction shows them.
    FileOpRunner::Outcome outcome;
    outcome.result = Success;
    outcome.summary = RunSummary{.operation = FO_COPY,
                                 .filesCopied = 212,
                                 .bytesCopied = 310500000,
                                 .upToDate = 29850,
                                 .metadataOnly = 140,
                                 .unusableNames = 3,
                                 .filesTotal = 31000,
                                 .elapsedMs = 8400};
    outcome.unusableNames << QStringLiteral("/srv/new/home/u0042/Documents/Notes: Year 9.docx: a name Windows "
                                            "clients cannot use: it holds the character ':'");
    outcome.logPath = QStringLiteral("/opt/corvane/logs/Migration_7_12_2026.txt");
    renderNextBox(QStringLiteral("frmMigrate-completed"), QMessageBox::Ok);
    MsgBox(QStringLiteral("File Migration Completed."), vbOKOnly, modMain::AppCaption(),
           FileOpRunner::failureDetails(outcome), FileOpRunner::outcomeText(outcome));
    outcome.result = Cancelled;
    outcome.summary.failed = 2;
    outcome.summary.cancelled = true;
    outcome.failures << QStringLiteral("Cannot read /srv/old-server/home/u0007/Desktop/locked.pst: Input/output error");
    renderNextBox(QStringLiteral("frmMigrate-failed"), QMessageBox::Ok);
    MsgBox(QStringLiteral("File Migration Failed."), vbOKOnly | vbCritical, modMain::AppCaption(),
           FileOpRunner::failureDetails(outcome), FileOpRunner::outcomeText(outcome));
    SetMsgBoxHandler(nullptr);
    form->close();
    modMain::SetMainMenuHandler({});

    FileOpProgressDialog progress(nullptr, FO_COPY);
    Progress p{12034, 30278, 1310000000, 3270000000, false, 5200, {}, false};
    p.currentFile = QStringLiteral("/srv/old-server/home/u0142/Pictures/Klassenfahrt 2023/Video 01.mp4");
    p.filesUpToDate = 11870; // a second pass
    p.bytesCopied = 210000000;
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

    // The question dialogs: every button fits.
    const auto question = [](const QString& name, const QString& text, const QStringList& captions,
                             const QStringList& names) {
        FileOpQuestionDialog d(nullptr, text, captions, names);
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        renderWindow(&d, name);
        for (const QString& button : names)
            EXPECT_TRUE(d.rect().contains(d.findChild<QPushButton*>(button)->geometry())) << button.toStdString();
        return d.findChild<QLabel*>("lblQuestion")->text();
    };
    const Conflict c{.source = "/srv/old-server/home/u0001/Documents/Aufsatz 003.docx",
                     .target = "/srv/new/home/u0001/Documents/Aufsatz 003.docx",
                     .sourceSize = 48213,
                     .targetSize = 47990,
                     .sourceTimeNs = 1764930000LL * 1000000000,
                     .targetTimeNs = 1764843600LL * 1000000000};
    const QString replace =
        question("FileOpQuestionDialog", FileOpQuestionDialog::replaceText(c), {"&Yes", "Yes to &All", "&No", "Cancel"},
                 {"cmdYes", "cmdYesToAll", "cmdNo", "cmdCancel"});
    EXPECT_TRUE(replace.contains("Aufsatz 003.docx") && replace.contains("47,990 bytes, modified"))
        << replace.toStdString();
    const FileError e{.path = "/srv/old-server/home/u0007/Desktop/locked.pst", .action = "read", .error = EIO};
    question("FileOpQuestionDialog-error", FileOpQuestionDialog::errorText(e),
             {"&Retry", "&Skip", "Skip A&ll", "Cancel"}, {"cmdRetry", "cmdSkip", "cmdSkipAll", "cmdCancel"});
}
