// The migration form as the operator drives it: boxes, picker, confirmation,
// the run with its dialogs, and the outcome boxes. Real folders, real engine;
// only the operator's answers are scripted.
#include "EngineTestSupport.h"
#include "ScriptedMsgBox.h"
#include "ScriptedSeams.h"
#include "TempAppFolder.h"

#include "common/modMain.h"
#include "migration/FileOpProgressDialog.h"
#include "migration/FileOpQuestionDialog.h"
#include "migration/FileOpRunner.h"
#include "migration/frmMigrate.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace fileop;

namespace {

void clickIndicator(QAbstractButton* b)
{
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

// Answers boxes through a callback, so a test can look at the form while a
// box is open in the middle of the run.
struct CallbackMsgBox final : MsgBoxHandler {
    explicit CallbackMsgBox(std::function<MsgBoxAnswer(const MsgBoxCall&)> f)
        : fn(std::move(f))
        , previous(SetMsgBoxHandler(this))
    {}
    ~CallbackMsgBox() override { SetMsgBoxHandler(previous); }
    MsgBoxAnswer answer(const MsgBoxCall& call) override { return calls.push_back(call), fn(call); }
    std::function<MsgBoxAnswer(const MsgBoxCall&)> fn;
    MsgBoxHandler* previous;
    std::vector<MsgBoxCall> calls;
};

} // namespace

// One tree: a refused check, picked paths overtyped (the boxes are the truth),
// No, a run that asks to create the folder, a failed run, the flags, a run
// with question dialogs, and closing.
TEST(MigrateForm, fromTheCheckThroughConfirmationQuestionsAndOutcomeToClosing)
{
    TempAppFolder app;
    int menuShown = 0;
    modMain::ComposeAppCaption();
    modMain::SetMainMenuHandler([&] { ++menuShown; });
    QPointer<frmMigrate> form = new frmMigrate;
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    const std::vector<QWidget*> eleven{form->Command2,   form->Text1,       form->Text2,      form->Check1[0],
                                       form->Check1[1],  form->Check1[2],   form->Check1[3],  form->Option1[2],
                                       form->Option1[1], form->Command1[0], form->Command1[1]};
    auto migrationLog = [&] {
        return QString::fromUtf8(app.readFile("logs/" + FileOpRunner::logNameNow() + ".txt"));
    };
    TempTree t;
    t.write("S/a.txt", "alpha");
    {
        ScriptedFolderPicker picker({t.path("elsewhere"), "", "/"});
        ScriptedMsgBox refused{MsgBoxAnswer::OK};
        QTest::mouseClick(form->Command1[0], Qt::LeftButton);
        QTest::mouseClick(form->Command1[0], Qt::LeftButton); // cancelled: the choice stays
        EXPECT_EQ(form->Text1->text(), t.path("elsewhere"));
        QTest::mouseClick(form->Command2, Qt::LeftButton);
        ASSERT_EQ(refused.calls().size(), 1u);
        EXPECT_EQ(refused.calls()[0].text,
                  "Please make sure thatyou have selected both a source AND destination folder.");
        EXPECT_EQ(refused.calls()[0].style, vbOKOnly | vbCritical);
        QTest::mouseClick(form->Command1[1], Qt::LeftButton);
        EXPECT_EQ(form->Text2->text(), "/") << "the root keeps its separator";
        EXPECT_EQ(picker.prompts().last(), "Select the DESTINATION folder:");
    }
    form->Text1->clear();
    form->Text2->clear();
    QTest::keyClicks(form->Text1, t.path("S"));
    QTest::keyClicks(form->Text2, t.path("new/D"));
    {
        ScriptedMsgBox no{MsgBoxAnswer::No};
        QTest::mouseClick(form->Command2, Qt::LeftButton);
        ASSERT_EQ(no.calls().size(), 1u);
        EXPECT_EQ(no.calls()[0].text, "You have chosen to move or copy the folder and contents of : " + t.path("S") +
                                          "\r\n\r\nto the destination : " + t.path("new/D") +
                                          "\r\n\r\nAre you sure that you want to proceed with this action?");
        EXPECT_EQ(no.calls()[0].style, vbYesNo | vbExclamation | vbDefaultButton1);
        EXPECT_FALSE(t.exists("new"));
    }
    std::vector<QString> enabledDuringRun;
    bool waitCursor = false, progressShown = false;
    CallbackMsgBox boxes([&](const MsgBoxCall& c) {
        if (c.text.contains(QLatin1String("does not exist"))) { // asked by the engine mid-run
            for (QWidget* w : eleven)
                if (w->isEnabled())
                    enabledDuringRun.push_back(w->objectName());
            waitCursor = form->testAttribute(Qt::WA_SetCursor) && form->cursor().shape() == Qt::WaitCursor;
            for (QWidget* w : QApplication::topLevelWidgets())
                progressShown |= w->objectName() == QLatin1String("FileOpProgressDialog") && w->isVisible();
        }
        return c.buttons() == vbYesNo ? MsgBoxAnswer::Yes : MsgBoxAnswer::OK;
    });
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(boxes.calls.size(), 3u);
    EXPECT_EQ(boxes.calls[1].text,
              QStringLiteral("The folder %1 does not exist. Do you want to create it?").arg(t.path("new/D")));
    EXPECT_EQ(boxes.calls[2].text, "File Migration Completed.");
    EXPECT_TRUE(enabledDuringRun.empty()) << enabledDuringRun.front().toStdString();
    EXPECT_TRUE(waitCursor);
    EXPECT_TRUE(progressShown) << "not silent: the progress dialog is up";
    for (QWidget* w : eleven)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_NE(form->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(t.read("new/D/a.txt"), "alpha");

    form->Text1->setText(t.path("missing"));
    boxes.calls.clear();
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_EQ(boxes.calls[1].text, "File Migration Failed.");
    EXPECT_TRUE(
        migrationLog().contains(QStringLiteral("Copy %1 to %2: result 2").arg(t.path("missing"), t.path("new/D"))))
        << migrationLog().toStdString();

    // Move then Copy with the silent box left: a copy whose questions come to
    // the UI thread as dialogs; keeping a file makes the run fail.
    EXPECT_EQ(form->GetShellFlags(), 0);
    for (int i = 0; i < 4; ++i)
        clickIndicator(form->Check1[i]);
    EXPECT_EQ(form->GetShellFlags(), 0x021C);
    for (int i = 1; i < 4; ++i)
        clickIndicator(form->Check1[i]);
    EXPECT_EQ(form->GetShellFlags(), FOF_SILENT);
    clickIndicator(form->Option1[1]);
    EXPECT_EQ(form->OperationCode(), FO_MOVE);
    clickIndicator(form->Option1[2]);
    t.write("S/b.txt", "bravo");
    t.write("D/S/a.txt", "old alpha");
    form->Text1->setText(t.path("S"));
    form->Text2->setText(t.path("D"));
    QStringList questions;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* d = qobject_cast<FileOpQuestionDialog*>(QApplication::activeModalWidget());
        if (!d)
            return;
        questions << d->findChild<QLabel*>(QStringLiteral("lblQuestion"))->text();
        // Merge the folder, keep the file.
        d->findChild<QPushButton*>(questions.size() == 1 ? QStringLiteral("cmdYes") : QStringLiteral("cmdNo"))->click();
    });
    driver.start(20);
    QTest::mouseClick(form->Command2, Qt::LeftButton); // Yes to the confirmation
    driver.stop();
    ASSERT_EQ(questions.size(), 2); // merge S, replace a.txt
    EXPECT_TRUE(questions[0].startsWith("The destination already contains a folder named 'S'"));
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha");
    EXPECT_EQ(t.read("D/S/b.txt") + t.read("S/b.txt"), "bravobravo") << "a copy, not a move";
    EXPECT_EQ(boxes.calls.back().text, "File Migration Failed.") << "a kept file is not a complete migration";
    EXPECT_EQ(boxes.calls.back().details, t.path("D/S/a.txt") + ": kept, not replaced\nThe migration log " +
                                              app.path() + "/logs/" + FileOpRunner::logNameNow() + ".txt" +
                                              " lists every item.")
        << "the box's details say what was not copied and where the rest is";
    EXPECT_TRUE(migrationLog().contains(QStringLiteral("result 1223")));
    EXPECT_TRUE(migrationLog().contains(t.path("D/S/a.txt") + ": kept, not replaced")) << migrationLog().toStdString();
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menuShown, 1) << "closing shows the menu";
    EXPECT_TRUE(form.isNull());
    modMain::SetMainMenuHandler({});
}

TEST(FileOpProgressDialogTest, whileCountingShowsNoShareOrEstimateAndThenBoth)
{
    modMain::ComposeAppCaption();
    FileOpProgressDialog d(nullptr, FO_COPY);
    Progress p{1234, 30278, 120500000, 3270000000, true /* counting */, 10000 /* ms */, {}, false};
    d.setProgress(p);
    EXPECT_EQ(d.lblCounts->text(), "1,234 of 30,278 files found so far, 120.5 MB copied");
    EXPECT_EQ(d.lblRate->text(), "Estimating the time left...");
    EXPECT_EQ(d.ProgressBar1->maximum(), 0) << "busy";
    p.counting = false;
    d.setProgress(p);
    EXPECT_EQ(d.lblCounts->text(), "1,234 of 30,278 files, 120.5 MB of 3.27 GB");
    EXPECT_EQ(d.lblRate->text(), "12.1 MB/s, about 4 min 21 s left");
    EXPECT_EQ(d.ProgressBar1->value(), 36);
    p.filesUpToDate = 1200;
    d.setProgress(p);
    EXPECT_EQ(d.lblRate->text(), "12.1 MB/s, about 4 min 21 s left (1,200 already up to date)");
}
