// The migration form as the operator drives it: boxes, picker, confirmation,
// the run with its dialogs, and the outcome boxes. Real folders, real engine;
// only the operator's answers are scripted.
#include "EngineTestSupport.h"
#include "ScriptedMsgBox.h"
#include "ScriptedSeams.h"

#include "common/FormKit.h"
#include "common/modMain.h"
#include "migration/FileOpProgressDialog.h"
#include "migration/FileOpQuestionDialog.h"
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

const QString kNeedBoth =
    QStringLiteral("Please make sure thatyou have selected both a source AND destination folder.");

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
    QPointer<frmMigrate> form;
    int menuShown = 0;
};

} // namespace

TEST_F(MigrateForm, opensWithItsCaptionsCopySelectedAndNothingChecked)
{
    EXPECT_EQ(form->objectName(), "frmMigrate");
    EXPECT_EQ(form->windowTitle(), modMain::AppCaption());
    EXPECT_EQ(form->size(), QSize(FormKit::tw(7395), FormKit::tw(8655)));
    EXPECT_TRUE(form->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(form->Command1[0]->text(), "Select Source");
    EXPECT_EQ(form->Command1[1]->text(), "Select Target");
    EXPECT_EQ(form->Command2->text(), "Migrate Files");
    EXPECT_EQ(form->Option1[1]->text(), "Move Source Folder to Destination");
    EXPECT_EQ(form->Option1[2]->text(), "Copy Source Folder to Destination");
    EXPECT_EQ(form->Check1[3]->text(),
              "Give the file being copied a new name (i.e. Copy 1 of...) if target filename already exists");
    EXPECT_EQ(form->Option1[0], nullptr);
    EXPECT_TRUE(form->Option1[2]->isChecked());
    EXPECT_EQ(form->OperationCode(), FO_COPY);
    EXPECT_EQ(form->GetShellFlags(), 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(form->Check1[i]->isChecked());
        EXPECT_EQ(form->findChild<QCheckBox*>(QStringLiteral("Check1(%1)").arg(i)), form->Check1[i]);
    }
    EXPECT_EQ(form->Check1[3]->parentWidget(), form->Picture2);
    EXPECT_EQ(form->Check1[3]->geometry(), FormKit::twRect(120, 1560, 6615, 375));
    EXPECT_TRUE(form->Text1->text().isEmpty());
    EXPECT_TRUE(form->Text2->text().isEmpty());
}

TEST_F(MigrateForm, migrateWithAnEmptyBoxAsksForBothFolders)
{
    ScriptedMsgBox boxes{MsgBoxAnswer::OK, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    form->Text1->setText("/somewhere");
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(boxes.calls().size(), 2u);
    for (const MsgBoxCall& c : boxes.calls()) {
        EXPECT_EQ(c.text, kNeedBoth);
        EXPECT_EQ(c.style, vbOKOnly | vbCritical);
        EXPECT_EQ(c.title, modMain::AppCaption());
    }
}

TEST_F(MigrateForm, pickingFillsTheBoxesAndCancelKeepsThem)
{
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

TEST_F(MigrateForm, noToTheConfirmationChangesNothing)
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
    EXPECT_EQ(boxes.calls()[0].title, modMain::AppCaption());
    EXPECT_FALSE(t.exists("D"));
    EXPECT_NE(form->cursor().shape(), Qt::WaitCursor);
    for (QWidget* w : elevenControls())
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
}

TEST_F(MigrateForm, typedPathsAreMigratedAndASecondRunConfirmsTheSame)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    t.write("S/sub/b.txt", "bravo");
    ScriptedFolderPicker picker({t.path("elsewhere")});
    QTest::mouseClick(form->Command1[0], Qt::LeftButton); // picked, then overtyped
    form->Text1->clear();
    QTest::keyClicks(form->Text1, t.path("S"));
    QTest::keyClicks(form->Text2, t.path("D"));
    clickIndicator(form->Check1[0]); // silent
    clickIndicator(form->Check1[1]); // create D without asking
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::OK, MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_EQ(t.read("D/sub/b.txt"), "bravo");
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_EQ(t.read("D/S/sub/b.txt"), "bravo") << "D exists now, so S goes inside it";
    ASSERT_EQ(boxes.calls().size(), 4u);
    EXPECT_EQ(boxes.calls()[0].text, confirmation(t.path("S"), t.path("D")));
    EXPECT_EQ(boxes.calls()[2].text, boxes.calls()[0].text);
    EXPECT_EQ(boxes.calls()[1].text, "File Migration Completed.");
    EXPECT_EQ(boxes.calls()[1].style, vbOKOnly);
    EXPECT_EQ(boxes.calls()[1].title, modMain::AppCaption());
    EXPECT_EQ(boxes.calls()[3].text, "File Migration Completed.");
}

TEST_F(MigrateForm, aFailedRunSaysSoWithTheStopIcon)
{
    TempTree t;
    form->Text1->setText(t.path("missing"));
    form->Text2->setText(t.path("D"));
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_EQ(boxes.calls()[1].text, "File Migration Failed.");
    EXPECT_EQ(boxes.calls()[1].style, vbOKOnly | vbCritical);
}

TEST_F(MigrateForm, elevenControlsAreDisabledDuringTheRunAndEnabledAfter)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    form->Text1->setText(t.path("S"));
    form->Text2->setText(t.path("new/D"));
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

TEST_F(MigrateForm, moveThenCopyAgainLeavesACopy)
{
    clickIndicator(form->Option1[1]);
    EXPECT_EQ(form->OperationCode(), FO_MOVE);
    clickIndicator(form->Option1[2]);
    EXPECT_EQ(form->OperationCode(), FO_COPY);
    TempTree t;
    t.write("S/a.txt", "alpha");
    t.mkdirs("D");
    form->Text1->setText(t.path("S"));
    form->Text2->setText(t.path("D"));
    clickIndicator(form->Check1[0]);
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
    EXPECT_EQ(t.read("S/a.txt"), "alpha") << "a copy, not a move";
}

TEST_F(MigrateForm, theFourBoxesGiveTheirFlags)
{
    clickIndicator(form->Check1[1]);
    EXPECT_EQ(form->GetShellFlags(), 0x0200);
    clickIndicator(form->Check1[0]);
    clickIndicator(form->Check1[2]);
    clickIndicator(form->Check1[3]);
    EXPECT_EQ(form->GetShellFlags(), 0x021C);
    clickIndicator(form->Check1[1]);
    EXPECT_EQ(form->GetShellFlags(), 0x001C);
}

TEST_F(MigrateForm, closingShowsTheMainMenuAndDeletesTheForm)
{
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menuShown, 1);
    EXPECT_TRUE(form.isNull());
}

TEST_F(MigrateForm, questionDialogsAnswerTheEngineFromTheUiThread)
{
    TempTree t;
    t.write("S/a.txt", "new alpha");
    t.write("S/sub/b.txt", "new bravo");
    t.write("D/S/a.txt", "old alpha");
    t.write("D/S/sub/b.txt", "old bravo");
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
        const bool file = questions.size() > 1;
        d->findChild<QPushButton*>(file ? QStringLiteral("cmdYesToAll") : QStringLiteral("cmdYes"))->click();
    });
    driver.start();
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    driver.stop();
    // S merged (Yes), sub merged (Yes to All), a.txt replaced (Yes to All), b.txt then without asking.
    ASSERT_EQ(questions.size(), 3);
    EXPECT_TRUE(questions[0].startsWith("The destination already contains a folder named 'S'"));
    EXPECT_EQ(t.read("D/S/a.txt"), "new alpha");
    EXPECT_EQ(t.read("D/S/sub/b.txt"), "new bravo");
    EXPECT_EQ(boxes.calls().back().text, "File Migration Completed.");
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
    d.setProgress(p);
    EXPECT_EQ(d.lblCounts->text(), "1,234 of 30,278 files, 120.5 MB of 3.27 GB");
    EXPECT_EQ(d.lblRate->text(), "12.1 MB/s, about 4 min 21 s left");
    EXPECT_EQ(d.ProgressBar1->value(), 36);
    EXPECT_TRUE(d.lblCurrent->text().endsWith("003.docx"));
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
