// The migration form as the operator drives it: boxes, picker, confirmation,
// the run with its dialogs, and the outcome boxes. Real folders, real engine;
// only the operator's answers are scripted.
#include "EngineTestSupport.h"
#include "MountInfoFixture.h"
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
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// Today's migration log.
QString migrationLog(const TempAppFolder& app)
{
    return QString::fromUtf8(app.readFile("logs/" + FileOpRunner::logNameNow() + ".txt"));
}

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
                                          "\r\n\r\nto the destination : " + t.path("new/D") + "\r\n\r\n" +
                                          t.path("new/D") + " will be created as the copy of S." +
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
        migrationLog(app).contains(QStringLiteral("Copy %1 to %2: result 2").arg(t.path("missing"), t.path("new/D"))))
        << migrationLog(app).toStdString();

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
    EXPECT_TRUE(migrationLog(app).contains(QStringLiteral("result 1223")));
    EXPECT_TRUE(migrationLog(app).contains(t.path("D/S/a.txt") + ": kept, not replaced"))
        << migrationLog(app).toStdString();
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
    const struct {
        bool counting;
        qint64 upToDate, bytesCopied; // the rate counts only what was written
        const char *counts, *rate;
    } states[] = {
        {true, 0, 120500000, "1,234 of 30,278 files found so far, 120.5 MB copied", "Estimating the time left..."},
        {false, 0, 120500000, "1,234 of 30,278 files, 120.5 MB of 3.27 GB", "12.1 MB/s, about 4 min 21 s left"},
        {false, 1200, 120500000, nullptr, "12.1 MB/s, about 4 min 21 s left (1,200 already up to date)"},
        {false, 1200, 20000000, nullptr, "2.0 MB/s, about 4 min 21 s left (1,200 already up to date)"},
        {false, 1200, 0, nullptr, "about 4 min 21 s left (1,200 already up to date)"}};
    for (const auto& state : states) {
        p.counting = state.counting;
        p.filesUpToDate = state.upToDate;
        p.bytesCopied = state.bytesCopied;
        d.setProgress(p);
        if (state.counts) {
            EXPECT_EQ(d.lblCounts->text(), state.counts);
        }
        EXPECT_EQ(d.lblRate->text(), state.rate);
        EXPECT_EQ(d.ProgressBar1->maximum() == 0, state.counting) << "busy while counting";
    }
    EXPECT_EQ(d.ProgressBar1->value(), 36);
}

namespace {

struct OpenForm {
    OpenForm()
    {
        modMain::ComposeAppCaption();
        modMain::SetMainMenuHandler([] {});
        form = new frmMigrate;
        form->show();
    }
    ~OpenForm()
    {
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        modMain::SetMainMenuHandler({});
    }
    QPointer<frmMigrate> form;
};

} // namespace

// A network path typed in a box runs on its mounted share; with the share not
// mounted, or with a path that is not a full one, the run is refused before
// anything is written, and the box and the log say why.
TEST(MigrateForm, networkPathsRunOnTheirMountedShareOrAreRefusedWithTheReasonInTheBoxAndTheLog)
{
    TempAppFolder app;
    OpenForm f;
    TempTree t;
    t.write("S/a.txt", "alpha");
    f.form->setMountInfo(MountInfo(t).share("//fs1.school.local/homes$", "mnt/homes").write());
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(t.path()));

    f.form->Text1->setText(t.path("S"));
    const std::pair<QString, QString> refusals[] = {
        {"\\\\dc1.school.local\\homes$\\y7a.moss",
         "is on the network share \\\\dc1.school.local\\homes$, which is not"},
        {"//dc1/homes$/y7a.moss", "mount -t cifs '//dc1/homes$' /mnt/homes"},
        {"relative/D", "The destination folder \"relative/D\" is not a full path."},
        {t.path("new\\homes"), "would create a folder whose name holds a backslash (new\\homes)"}};
    for (const auto& [destination, reason] : refusals) {
        f.form->Text2->setText(destination);
        ScriptedMsgBox boxes{MsgBoxAnswer::OK};
        QTest::mouseClick(f.form->Command2, Qt::LeftButton);
        ASSERT_EQ(boxes.calls().size(), 1u) << "refused before the confirmation";
        const MsgBoxCall& box = boxes.calls()[0];
        EXPECT_TRUE(box.text.contains(reason)) << box.text.toStdString();
        EXPECT_EQ(box.style, vbOKOnly | vbCritical);
        EXPECT_TRUE(migrationLog(app).contains("Copy " + t.path("S") + " to " + destination +
                                               ": refused, nothing written: " + box.text.section(u'\n', 0, 0)))
            << migrationLog(app).toStdString();
    }
    QDir::setCurrent(before);
    QStringList left = QDir(t.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left, QStringList({"S", "mnt", "mountinfo"}))
        << "no folder named after a network path, nothing relative to the working folder";
    EXPECT_EQ(QDir(app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).filter("\\").size(), 0);
    EXPECT_FALSE(QFileInfo::exists("/dc1"));

    // The short server name finds the mount of the full one; the copy lands below the mount point.
    f.form->Text2->setText(QStringLiteral("\\\\FS1\\Homes$\\new"));
    clickIndicator(f.form->Check1[1]); // no question about creating it
    {
        ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
        QTest::mouseClick(f.form->Command2, Qt::LeftButton);
        ASSERT_EQ(boxes.calls().size(), 2u);
        EXPECT_TRUE(boxes.calls()[0].text.contains("to the destination : \\\\FS1\\Homes$\\new\r\n\r\n" +
                                                   t.path("mnt/homes/new") + " will be created as the copy of S."))
            << boxes.calls()[0].text.toStdString();
        EXPECT_EQ(boxes.calls()[1].text, "File Migration Completed.");
        EXPECT_EQ(t.read("mnt/homes/new/a.txt"), "alpha");
    }
    // While the confirmation is open the mount point becomes a link elsewhere:
    // the run keeps to the share the operator was shown, and writes nothing.
    f.form->Text2->setText(QStringLiteral("\\\\fs1\\homes$\\y7"));
    const auto swapOnConfirm = [&](const MsgBoxCall& c) {
        if (c.buttons() != vbYesNo)
            return MsgBoxAnswer::OK;
        EXPECT_TRUE(QDir().rename(t.path("mnt/homes"), t.path("mnt/was-homes")));
        EXPECT_TRUE(QDir().mkpath(t.path("elsewhere")) && QFile::link(t.path("elsewhere"), t.path("mnt/homes")));
        return MsgBoxAnswer::Yes;
    };
    CallbackMsgBox swapped(swapOnConfirm);
    QTest::mouseClick(f.form->Command2, Qt::LeftButton);
    ASSERT_EQ(swapped.calls.size(), 2u);
    EXPECT_EQ(swapped.calls[1].text, "File Migration Failed.");
    EXPECT_EQ(swapped.calls[1].details.section(u'\n', 0, 0),
              "Cannot open " + t.path("mnt/homes") + ": it changed during the run");
    EXPECT_EQ(t.files("elsewhere"), QStringList());
    EXPECT_FALSE(t.exists("elsewhere/y7"));

    // The same on the source side: the run reads from the share shown, or nothing.
    ASSERT_TRUE(QFile::remove(t.path("mnt/homes")) && QDir().rename(t.path("mnt/was-homes"), t.path("mnt/homes")));
    t.write("elsewhere/new/other.txt", "other");
    f.form->Text1->setText(QStringLiteral("\\\\fs1\\homes$\\new"));
    f.form->Text2->setText(t.path("out"));
    CallbackMsgBox sourceSwapped(swapOnConfirm);
    QTest::mouseClick(f.form->Command2, Qt::LeftButton);
    ASSERT_EQ(sourceSwapped.calls.size(), 2u);
    EXPECT_EQ(sourceSwapped.calls[1].text, "File Migration Failed.");
    EXPECT_EQ(sourceSwapped.calls[1].details.section(u'\n', 0, 0),
              "Cannot open " + t.path("mnt/homes") + ": it changed during the run");
    EXPECT_FALSE(t.exists("out/new/other.txt"));
}

// The cutover pass: the destination the first pass made looks like an earlier
// copy; the operator chooses to update it, and it is updated in place, not
// nested. The picker opens where each box points.
TEST(MigrateForm, anEarlierCopyInTheDestinationIsAskedAboutAndUpdatedInPlace)
{
    TempAppFolder app;
    OpenForm f;
    TempTree t;
    for (const char* user : {"u1", "u2", "u3"})
        t.write(QStringLiteral("Year7/%1/notes.txt").arg(user), user);
    f.form->Text1->setText(t.path("Year7"));
    f.form->Text2->setText(t.path("new/homes/Year7/missing/deeper"));
    {
        ScriptedFolderPicker picker({"", ""});
        QTest::mouseClick(f.form->Command1[0], Qt::LeftButton);
        QTest::mouseClick(f.form->Command1[1], Qt::LeftButton);
        EXPECT_EQ(picker.starts(), QStringList({t.path("Year7"), t.path()})) << "the nearest existing folder";
    }
    f.form->Text2->setText(t.path("new/Year7"));
    clickIndicator(f.form->Check1[1]);
    clickIndicator(f.form->Check1[2]); // Yes to all: a second pass replaces what changed
    {
        ScriptedMsgBox first{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
        QTest::mouseClick(f.form->Command2, Qt::LeftButton);
        ASSERT_EQ(first.calls().size(), 2u);
        EXPECT_EQ(first.calls()[1].text, "File Migration Completed.");
    }
    t.write("Year7/u2/notes.txt", "changed");
    t.write("Year7/u4/notes.txt", "new user");
    ScriptedMsgBox second{MsgBoxAnswer::Yes, MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(f.form->Command2, Qt::LeftButton);
    ASSERT_EQ(second.calls().size(), 3u);
    EXPECT_TRUE(second.calls()[0].text.startsWith("The destination " + t.path("new/Year7") +
                                                  " looks like an earlier copy of " + t.path("Year7") +
                                                  ": 3 of its 3 top-level names are also in the source"))
        << second.calls()[0].text.toStdString();
    EXPECT_EQ(second.calls()[0].style, vbYesNoCancel | vbQuestion);
    EXPECT_TRUE(second.calls()[1].text.contains("The contents of " + t.path("Year7") + " will be copied into " +
                                                t.path("new/Year7") + ", updating what is there."))
        << second.calls()[1].text.toStdString();
    EXPECT_TRUE(second.calls()[1].text.endsWith("Are you sure that you want to proceed with this action?"));
    EXPECT_EQ(second.calls()[2].text, "File Migration Completed.");
    EXPECT_EQ(t.files("new/Year7"), QStringList({"u1/notes.txt", "u2/notes.txt", "u3/notes.txt", "u4/notes.txt"}))
        << "updated in place, nothing nested";
    EXPECT_EQ(t.read("new/Year7/u2/notes.txt"), "changed");

    // Cancel at the question: nothing happens, not even the confirmation.
    ScriptedMsgBox cancel{MsgBoxAnswer::Cancel};
    QTest::mouseClick(f.form->Command2, Qt::LeftButton);
    EXPECT_EQ(cancel.calls().size(), 1u);
    EXPECT_FALSE(t.exists("new/Year7/Year7"));
}

// A second pass driven as the operator: Yes to All, one Skip All for three
// items that cannot be written, and the numbers of the final box and of the
// log's run line are what is on disk.
TEST(MigrateForm, theFinalBoxAndTheLogGiveTheNumbersOfWhatIsOnDiskAndSkipAllAsksOnce)
{
    TempAppFolder app;
    OpenForm f;
    TempTree t;
    for (const char* file : {"S/same1.txt", "S/same2.txt", "S/edited.txt", "S/chmod.txt", "S/b1", "S/b2", "S/b3"})
        t.write(file, QByteArray(file).repeated(2));
    f.form->Text1->setText(t.path("S"));
    f.form->Text2->setText(t.path("D"));
    clickIndicator(f.form->Check1[0]); // silent
    clickIndicator(f.form->Check1[1]);
    clickIndicator(f.form->Check1[2]); // Yes to all
    {
        ScriptedMsgBox first{MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
        QTest::mouseClick(f.form->Command2, Qt::LeftButton);
        ASSERT_EQ(first.calls().size(), 2u);
        EXPECT_EQ(first.calls()[1].text, "File Migration Completed.");
        EXPECT_TRUE(
            first.calls()[1].informative.startsWith("7 files copied (114 bytes), 0 already up to date, 0 metadata "
                                                    "only, 0 skipped, 0 failed, 0 names Windows clients cannot "
                                                    "use, in "))
            << first.calls()[1].informative.toStdString();
    }
    t.write("S/edited.txt", "edited during the week");
    ASSERT_EQ(::chmod(t.bytes("S/chmod.txt").constData(), 0600), 0);
    t.write("S/what?.txt", "new");
    for (const char* blocked : {"D/b1", "D/b2", "D/b3"}) {
        ASSERT_TRUE(QFile::remove(t.path(blocked)));
        ASSERT_TRUE(QDir().mkpath(t.path(blocked) + "/in the way"));
    }
    int errorQuestions = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<FileOpQuestionDialog*>(QApplication::activeModalWidget())) {
            ++errorQuestions;
            d->findChild<QPushButton*>(QStringLiteral("cmdSkipAll"))->click();
        }
    });
    driver.start(10);
    ScriptedMsgBox second{MsgBoxAnswer::Yes, MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    QTest::mouseClick(f.form->Command2, Qt::LeftButton);
    driver.stop();
    ASSERT_EQ(second.calls().size(), 3u);
    EXPECT_TRUE(second.calls()[0].text.contains("looks like an earlier copy"));
    EXPECT_EQ(errorQuestions, 1) << "Skip All: the later errors are not asked";
    const MsgBoxCall& box = second.calls()[2];
    EXPECT_EQ(box.text, "File Migration Failed.");
    const QString numbers = "2 files copied (25 bytes), 2 already up to date, 1 metadata only, 0 skipped, 3 failed, "
                            "1 names Windows clients cannot use, in ";
    EXPECT_TRUE(box.informative.startsWith(numbers)) << box.informative.toStdString();
    for (const char* blocked : {"b1", "b2", "b3"})
        EXPECT_TRUE(box.details.contains(t.path("D/") + blocked)) << box.details.toStdString();
    EXPECT_TRUE(box.details.contains(t.path("D/what?.txt") + ": a name Windows clients cannot use: it holds the "
                                                             "character '?'"));
    // On disk: the two copies, the new mode, the folders in the way untouched.
    EXPECT_EQ(t.read("D/edited.txt"), "edited during the week");
    EXPECT_EQ(t.read("D/what?.txt"), "new");
    EXPECT_EQ(t.lstat("D/chmod.txt").st_mode & 0777, 0600u);
    EXPECT_EQ(t.files("D/b1"), QStringList()) << "a skipped item is left as it was";
    const QString log = migrationLog(app);
    EXPECT_TRUE(log.contains(QStringLiteral("Copy %1 to %2 (contents): result ").arg(t.path("S"), t.path("D")) +
                             QString::number(FileDestinationIsFolder) + ", " + numbers))
        << log.toStdString();
    EXPECT_TRUE(log.contains(t.path("D/what?.txt") + ": a name Windows clients cannot use"));
}
