// Step 3 of the wizard: the run, and the job's states as the window shows them.
#include "frmLDAPUpdate.h"

#include "common/MsgBox.h"
#include "common/modMain.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <utility>

// The job reports from its own thread; this slot runs on the window's.
void frmLDAPUpdate::jobStateChanged(HomePathUpdateJob::State state)
{
    using State = HomePathUpdateJob::State;
    if (state == State::Planning || state == State::CheckingFolders || state == State::Running)
        return;
    const Waiting waiting = std::exchange(m_waiting, Waiting::Nothing);
    unsetCursor();
    switch (waiting) {
    case Waiting::Plan:
        showPlan();
        break;
    case Waiting::FoldersForRun:
        foldersChecked();
        break;
    case Waiting::FoldersForPreview:
        setStep2Enabled(true);
        cmdPreview_Click();
        break;
    case Waiting::Run:
        runFinished();
        break;
    case Waiting::Tree:
    case Waiting::Nothing:
        break;
    }
}

// After Confirm, with every folder looked for: what cannot go ahead is said, a
// missing folder is the operator's question, and the rest is the run.
void frmLDAPUpdate::foldersChecked()
{
    unsetCursor();
    if (const QString why = m_job->refusal(); !why.isEmpty()) {
        MsgBox(QStringLiteral("Nothing was written: ") + why + u'.', vbOKOnly | vbExclamation, modMain::AppCaption());
        setStep2Enabled(true);
        return;
    }
    if (const int missing = m_job->missingFolders(); missing > 0) {
        QString example;
        for (const HomePathUpdate::PlannedAccount& a : m_job->currentPlan().accounts)
            if (a.problem.isEmpty() && a.folder == HomePathUpdate::FolderState::Missing && example.isEmpty())
                example = HomePathUpdate::printable(a.newHome);
        const MsgBoxAnswer answer =
            MsgBox(QStringLiteral("%1 of the %2 home folders do not exist yet (for example %3).\r\n\r\n"
                                  "Yes: create them, then update those users.\r\n"
                                  "No: leave those users as they are and update the others.\r\n"
                                  "Cancel: go back without updating anyone.")
                       .arg(missing)
                       .arg(m_job->currentPlan().accounts.size())
                       .arg(example),
                   vbYesNoCancel | vbQuestion, modMain::AppCaption());
        if (answer != MsgBoxAnswer::Yes && answer != MsgBoxAnswer::No) {
            setStep2Enabled(true);
            return;
        }
        m_job->setCreateMissing(answer == MsgBoxAnswer::Yes);
    }
    frmeStep1->hide();
    frmeStep2->hide();
    frmeStep3->show();
    setCursor(Qt::WaitCursor);
    DisableCloseWindowsButton(this);
    m_errors = 0;
    if (IncludeSubtree == 1)
        ModUsersDeep(SelectedOU);
    else
        ModUsersRootOnly(SelectedOU);
}

void frmLDAPUpdate::runFinished()
{
    m_errors = m_job->errors();
    showLogFailure(m_job->logFailure()); // one box for the run, however many lines were lost
    lblPROGRESS->setText(QStringLiteral("Updates complete."));
    const QString undo = m_job->undoFileName();
    lblRunSummary->setText(
        QStringLiteral("%1.\nLog: %2.txt\nUndo file: %3")
            .arg(m_job->summary().text(), HomePathUpdate::logNameNow(),
                 undo.isEmpty() ? QStringLiteral("none (nothing was written)") : QFileInfo(undo).fileName()));
    unsetCursor();
    cmdFinish->setEnabled(true);
}

void frmLDAPUpdate::ModUsersRootOnly(const QString& dn)
{
    modUsers(dn, false, QStringLiteral("Updating User: "));
}

void frmLDAPUpdate::ModUsersDeep(const QString& dn)
{
    modUsers(dn, true, QStringLiteral("Currently User: "));
}

void frmLDAPUpdate::modUsers(const QString& dn, bool deep, const QString& userCaption)
{
    Q_UNUSED(dn);
    Q_UNUSED(deep); // the plan of step 2 holds the accounts and the scope
    m_userCaption = userCaption;
    ProgressBar1->setMaximum(qMax<qsizetype>(1, m_job->currentPlan().accounts.size()));
    // The job runs on its own thread; its end arrives in jobStateChanged().
    m_waiting = Waiting::Run;
    m_job->start();
}

void frmLDAPUpdate::userDone(int done, int total, const QString& name, const QString& userCaption)
{
    if (total > ProgressBar1->maximum())
        ProgressBar1->setMaximum(total);
    ProgressBar1->setValue(done);
    lblProgressPercent->setText(QStringLiteral("%1%").arg(qint64(done) * 100 / ProgressBar1->maximum()));
    lblPROGRESS->setText(userCaption + name);
}
