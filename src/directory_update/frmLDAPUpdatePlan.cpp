// Step 2 of the wizard: the plan of the ticked OU, its preview, Back, and Confirm.
#include "frmLDAPUpdate.h"

#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/modMain.h"
#include "directory_update/frmPreview.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <limits>

using namespace FormKit;

HomePathUpdateJob::DirectoryOpener frmLDAPUpdate::directoryOpener() const
{
    return [pageSize = m_pageSize](DirectoryError& err) -> std::unique_ptr<DirectoryAccess> {
        auto session = DirectorySession::open(err);
        if (session)
            session->setPageSize(pageSize);
        return session;
    };
}

void frmLDAPUpdate::GetMembers()
{
    UserCount = 0;
    const bool subtree = IncludeSubtree == 1;
    lblIncSubTrees2->setText(subtree ? QStringLiteral("Yes") : QStringLiteral("No"));
    lblStep2SelectedOU->setText(SelectedOU);
    lblStep2MemberCount->setFont(formFont(8.25, false));
    lblStep2MemberCount->setText(QStringLiteral("Counting..."));
    cmdGo->setEnabled(false);
    cmdPreview->setEnabled(false);
    // The plan is the count: the accounts shown here are the ones Confirm writes.
    m_job = std::make_unique<HomePathUpdateJob>(directoryOpener());
    connect(m_job.get(), &HomePathUpdateJob::stateChanged, this, &frmLDAPUpdate::jobStateChanged);
    connect(m_job.get(), &HomePathUpdateJob::progress, this,
            [this](int done, int total, const QString& name) { userDone(done, total, name, m_userCaption); });
    m_waiting = Waiting::Plan;
    setCursor(Qt::BusyCursor);
    m_job->startPlan(SelectedOU, subtree, m_settings.userPath);
}

void frmLDAPUpdate::showPlan()
{
    if (m_job->state() != HomePathUpdateJob::State::Planned) {
        // A count that failed is not "no users": say so, and offer only Back.
        const QString why = m_job->error();
        lblStep2MemberCount->setFont(formFont(8.25, true));
        lblStep2MemberCount->setText(
            m_job->currentPlan().accounts.isEmpty() && why.startsWith(QLatin1String("the user path"))
                ? QStringLiteral("The User Folder Path setting cannot be used: %1. Correct it in the settings.")
                      .arg(why)
                : QStringLiteral("Unable to count the users: ") + why);
        cmdGo->setEnabled(false);
        m_job.reset();
        return;
    }
    const HomePathUpdate::HomePathPlan& plan = m_job->currentPlan();
    UserCount = qint32(qMin<qint64>(plan.accounts.size(), std::numeric_limits<qint32>::max()));
    if (UserCount != 0) {
        lblStep2MemberCount->setFont(formFont(8.25, false));
        QString text = QString::number(UserCount);
        if (!plan.failures.isEmpty())
            text += QStringLiteral(" (%1 containers could not be read)").arg(plan.failures.size());
        lblStep2MemberCount->setText(text);
        cmdGo->setEnabled(true);
        cmdPreview->setEnabled(true);
    } else {
        lblStep2MemberCount->setFont(formFont(8.25, true));
        lblStep2MemberCount->setText(QStringLiteral("There are no users to update"));
        cmdGo->setEnabled(false);
    }
}

void frmLDAPUpdate::setStep2Enabled(bool enabled)
{
    cmdBack->setEnabled(enabled);
    cmdGo->setEnabled(enabled && UserCount != 0);
    cmdPreview->setEnabled(enabled && UserCount != 0);
}

void frmLDAPUpdate::cmdPreview_Click()
{
    if (!m_job || isBusy())
        return;
    if (!m_job->foldersChecked()) {
        // The folders are looked up off this thread; the preview opens when they are.
        setStep2Enabled(false);
        setCursor(Qt::BusyCursor);
        m_waiting = Waiting::FoldersForPreview;
        m_job->startFolderCheck();
        return;
    }
    frmPreview preview(m_job->currentPlan(), this);
    preview.exec();
}

void frmLDAPUpdate::cmdBack_Click()
{
    if (isBusy())
        return;
    SelectedOU.clear();
    UserCount = 0;
    // A fresh start of step 1: the settings are read again, and the next plan uses what is shown.
    m_settings = AppSettings::load();
    lblHomePath2->setText(m_settings.userPath);
    CheckedNode = nullptr;
    m_job.reset();
    frmeStep2->hide();
    frmeStep3->hide();
    m_loadingTree = true;
    for (int i = TreeView1->topLevelItemCount() - 1; i >= 0; --i)
        delete TreeView1->takeTopLevelItem(i);
    m_loadingTree = false;
    LoadOUTree();
    frmeStep1->show();
}

void frmLDAPUpdate::cmdGo_Click()
{
    if (!m_job || isBusy())
        return;
    if (MsgBox(QStringLiteral("Are you sure you want to update the selected users?\r\nThis update cannot be "
                              "stopped once it has been started."),
               vbYesNo | vbQuestion, modMain::AppCaption()) != MsgBoxAnswer::Yes)
        return;
    HomePathUpdate::Settings settings{m_settings.adminGroup, m_settings.userPath, FixPermissions == 1};
    m_job->setSettings(settings);
    // Before anything is written the folders are looked for, off this thread.
    setStep2Enabled(false);
    setCursor(Qt::WaitCursor);
    m_waiting = Waiting::FoldersForRun;
    if (m_job->foldersChecked()) {
        m_waiting = Waiting::Nothing;
        foldersChecked();
        return;
    }
    m_job->startFolderCheck();
}
