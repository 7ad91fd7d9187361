// The migration form as the operator drives it: boxes, picker, confirmation,
// the run with its dialogs, and the outcome boxes. Real folders, real engine;
// only the operator's answers are scripted.
#include "EngineTestSupport.h"
#include "ScriptedMsgBox.h"
#include "ScriptedSeams.h"
#include "TempAppFolder.h"

#include "common/FormKit.h"
#include "common/modMain.h"
#include "migration/FileOpProgressDialog.h"
#include "migration/FileOpQuestionDialog.h"
#include "migration/FileOpRunner.h"
#include "migration/fileop/FileOperation.h"
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

#include <functional>

using namespace fileop;

namespace {

QString confirmation(const QString& src, const QString& dst)
{
    return QStringLiteral("You have chosen to move or copy the folder and contents of : ") + src +
           QStringLiteral("\r\n\r\nto the destination : ") + dst +
           QStringLiteral("\r\n\r\nAre you sure that you want to proceed with this action?");
}

void clickIndicator(QAbstractButton* b)
{
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

// Answers boxes through a callback, so a test can look at the form while a
// box is open in the middle of the run.
class CallbackMsgBox final : public MsgBoxHandler {
public:
    explicit CallbackMsgBox(std::function<MsgBoxAnswer(const MsgBoxCall&)> fn)
        : m_fn(std::move(fn))
        , m_previous(SetMsgBoxHandler(this))
    {}
    ~CallbackMsgBox() override { SetMsgBoxHandler(m_previous); }
    MsgBoxAnswer answer(const MsgBoxCall& call) override
    {
        calls.push_back(call);
        return m_fn(call);
    }
    std::vector<MsgBoxCall> calls;

private:
    std::function<MsgBoxAnswer(const MsgBoxCall&)> m_fn;
    MsgBoxHandler* m_previous;
};

class MigrateForm : public ::testing::Test {
protected:
    void SetUp() override
    {
        modMain::ComposeAppCaption();
        FormKit::InstallFontSubstitutes(); // as the program does at start
        modMain::SetMainMenuHandler([this] { ++menuShown; });
        form = new frmMigrate;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void TearDown() override
    {
        while (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        if (form)
            form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        modMain::SetMainMenuHandler({});
    }
    std::vector<QWidget*> elevenControls() const
    {
        return {form->Command2,   form->Text1,       form->Text2,      form->Check1[0],
                form->Check1[1],  form->Check1[2],   form->Check1[3],  form->Option1[2],
                form->Option1[1], form->Command1[0], form->Command1[1]};
    }
    QString migrationLog() const
    {
        return QString::fromUtf8(app.readFile("logs/" + FileOpRunner::LogNameNow() + ".txt"));
    }
    TempAppFolder app;
    QPointer<frmMigrate> form;
    int menuShown = 0;
};

} // namespace

TEST_F(MigrateForm, emptyBoxesAreRefusedAndPickingFillsThemWithTheRightPrompts)
{
    EXPECT_TRUE(form->Option1[2]->isChecked());
    ScriptedMsgBox boxes{MsgBoxAnswer::OK, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    form->Text1->setText("/somewhere");
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(boxes.calls().size(), 2u);
    for (const MsgBoxCall& c : boxes.calls()) {
        EXPECT_EQ(c.text, "Please make sure thatyou have selected both a source AND destination folder.");
        EXPECT_EQ(c.style, vbOKOnly | vbCritical);
    }
    ScriptedFolderPicker picker({"/srv/home", "", "/"});
    QTest::mouseClick(form->Command1[0], Qt::LeftButton);
    EXPECT_EQ(form->Text1->text(), "/srv/home");
    QTest::mouseClick(form->Command1[0], Qt::LeftButton);
    EXPECT_EQ(form->Text1->text(), "/srv/home") << "cancel keeps the previous choice";
    QTest::mouseClick(form->Command1[1], Qt::LeftButton);
    EXPECT_EQ(form->Text2->text(), "/") << "the root keeps its separator";
    EXPECT_EQ(picker.prompts(), QStringList({"Select the SOURCE to move or copy:", "Select the SOURCE to move or copy:",
                                             "Select the DESTINATION folder:"}));
}

TEST_F(MigrateForm, noToTheConfirmationChangesNothingAndAFailedRunSaysSo)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    QTest::keyClicks(form->Text1, t.path("S"));
    QTest::keyClicks(form->Text2, t.path("D"));
    ScriptedMsgBox boxes{MsgBoxAnswer::No};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, confirmation(t.path("S"), t.path("D")));
    EXPECT_EQ(boxes.calls()[0].style, vbYesNo | vbExclamation | vbDefaultButton1);
    EXPECT_FALSE(t.exists("D"));
    for (QWidget* w : elevenControls())
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();

    form->Text1->setText(t.path("missing"));
    ScriptedMsgBox failed{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(failed.calls().size(), 2u);
    EXPECT_EQ(failed.calls()[1].text, "File Migration Failed.");
    EXPECT_EQ(failed.calls()[1].style, vbOKOnly | vbCritical);
    EXPECT_TRUE(migrationLog().contains(QStringLiteral("Copy %1 to %2: result 2").arg(t.path("missing"), t.path("D"))))
        << migrationLog().toStdString();
}

TEST_F(MigrateForm, typedPathsRunWithTheElevenControlsDisabledUntilTheEnd)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    ScriptedFolderPicker picker({t.path("elsewhere")});
    QTest::mouseClick(form->Command1[0], Qt::LeftButton); // picked, then overtyped
    form->Text1->clear();
    QTest::keyClicks(form->Text1, t.path("S"));
    QTest::keyClicks(form->Text2, t.path("new/D"));
    std::vector<QString> enabledDuringRun;
    bool waitCursor = false;
    bool progressShown = false;
    CallbackMsgBox boxes([&](const MsgBoxCall& c) {
        if (c.text.contains(QLatin1String("does not exist"))) { // asked by the engine mid-run
            for (QWidget* w : elevenControls())
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
    EXPECT_EQ(boxes.calls[0].text, confirmation(t.path("S"), t.path("new/D")));
    EXPECT_EQ(boxes.calls[1].text,
              QStringLiteral("The folder %1 does not exist. Do you want to create it?").arg(t.path("new/D")));
    EXPECT_EQ(boxes.calls[2].text, "File Migration Completed.");
    EXPECT_TRUE(enabledDuringRun.empty()) << enabledDuringRun.front().toStdString();
    EXPECT_TRUE(waitCursor);
    EXPECT_TRUE(progressShown) << "not silent: the progress dialog is up";
    for (QWidget* w : elevenControls())
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_NE(form->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(t.read("new/D/a.txt"), "alpha");
}

TEST_F(MigrateForm, theBoxesGiveTheirFlagsAndMoveThenCopyRunsACopy)
{
    EXPECT_EQ(form->GetShellFlags(), 0);
    for (int i = 0; i < 4; ++i)
        clickIndicator(form->Check1[i]);
    EXPECT_EQ(form->GetShellFlags(), 0x021C);
    clickIndicator(form->Check1[1]);
    clickIndicator(form->Check1[2]);
    clickIndicator(form->Check1[3]);
    EXPECT_EQ(form->GetShellFlags(), FOF_SILENT);
    clickIndicator(form->Option1[1]);
    EXPECT_EQ(form->OperationCode(), FO_MOVE);
    clickIndicator(form->Option1[2]);
    EXPECT_EQ(form->OperationCode(), FO_COPY);
    TempTree t;
    t.write("S/a.txt", "alpha");
    t.write("D/x", "");
    form->Text1->setText(t.path("S"));
    form->Text2->setText(t.path("D"));
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
    EXPECT_EQ(t.read("S/a.txt"), "alpha") << "a copy, not a move";
}

TEST_F(MigrateForm, closingShowsTheMainMenuAndDeletesTheForm)
{
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menuShown, 1);
    EXPECT_TRUE(form.isNull());
}

TEST_F(MigrateForm, questionDialogsAnswerTheEngineFromTheUiThreadAndTheLogNamesWhatWasKept)
{
    TempTree t;
    t.write("S/a.txt", "new alpha");
    t.write("D/S/a.txt", "old alpha");
    form->Text1->setText(t.path("S"));
    form->Text2->setText(t.path("D"));
    clickIndicator(form->Check1[0]);
    QStringList questions;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* d = qobject_cast<FileOpQuestionDialog*>(QApplication::activeModalWidget());
        if (!d)
            return;
        questions << d->findChild<QLabel*>(QStringLiteral("lblQuestion"))->text();
        // Merge the folder, keep the file.
        d->findChild<QPushButton*>(questions.size() == 1 ? QStringLiteral("cmdYes") : QStringLiteral("cmdNo"))->click();
    });
    driver.start();
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    driver.stop();
    ASSERT_EQ(questions.size(), 2); // merge S, replace a.txt
    EXPECT_TRUE(questions[0].startsWith("The destination already contains a folder named 'S'"));
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha");
    EXPECT_EQ(boxes.calls().back().text, "File Migration Failed.") << "a kept file is not a complete migration";
    EXPECT_TRUE(migrationLog().contains(QStringLiteral("result 1223")));
    EXPECT_TRUE(migrationLog().contains(t.path("D/S/a.txt") + ": kept, not replaced")) << migrationLog().toStdString();
}

TEST(FileOpProgressDialogTest, showsCountsRateAndCancelsOnce)
{
    modMain::ComposeAppCaption();
    FileOpProgressDialog d(nullptr, FO_COPY);
    Progress p;
    p.filesDone = 1234;
    p.filesTotal = 30278;
    p.bytesDone = 120500000;
    p.bytesTotal = 3270000000;
    p.elapsedMs = 10000;
    p.currentFile = QStringLiteral("/srv/home/u0042/Documents/Schule/Aufsatz 003.docx");
    // While the tree is still being read the totals grow: no share, no estimate.
    p.counting = true;
    d.setProgress(p);
    EXPECT_EQ(d.lblCounts->text(), "1,234 of 30,278 files found so far, 120.5 MB copied");
    EXPECT_EQ(d.lblRate->text(), "Estimating the time left...");
    EXPECT_EQ(d.ProgressBar1->maximum(), 0) << "busy";
    p.counting = false;
    d.setProgress(p);
    EXPECT_EQ(d.lblCounts->text(), "1,234 of 30,278 files, 120.5 MB of 3.27 GB");
    EXPECT_EQ(d.lblRate->text(), "12.1 MB/s, about 4 min 21 s left");
    EXPECT_EQ(d.ProgressBar1->value(), 36);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    int cancels = 0;
    QObject::connect(&d, &FileOpProgressDialog::cancelRequested, [&] { ++cancels; });
    QTest::mouseClick(d.cmdCancel, Qt::LeftButton);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(d.cmdCancel->isEnabled());
    EXPECT_TRUE(d.isVisible()) << "the dialog stays until the engine has stopped";
}
