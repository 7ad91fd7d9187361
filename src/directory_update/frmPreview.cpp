#include "frmPreview.h"

#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/SafeFileWriter.h"
#include "common/modMain.h"
#include "directory_update/HomePathCsv.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

using namespace FormKit;

namespace {
frmPreview::SaveFileName g_saveFileName;
}

frmPreview::frmPreview(const HomePathUpdate::HomePathPlan& plan, QWidget* parent)
    : QDialog(parent)
    , m_plan(plan)
{
    setObjectName(QStringLiteral("frmPreview"));
    FormKit::setCaption(this);
    setFont(formFont(8.25));
    setFixedSize(tw(14400), tw(7200));
    setWhiteBackground(this);
    grdPlan = new QTableWidget(this);
    grdPlan->setObjectName(QStringLiteral("grdPlan"));
    grdPlan->setGeometry(twRect(120, 120, 14160, 6060));
    grdPlan->setColumnCount(columnCount);
    QStringList headers(columnCount);
    headers[colAccount] = QStringLiteral("Account");
    headers[colNew] = QStringLiteral("New Path");
    headers[colFolder] = QStringLiteral("Folder Exists?");
    headers[colUnchanged] = QStringLiteral("Unchanged?");
    headers[colCurrent] = QStringLiteral("Current Path");
    headers[colDn] = QStringLiteral("DN");
    grdPlan->setHorizontalHeaderLabels(headers);
    grdPlan->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdPlan->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdPlan->verticalHeader()->hide();
    lblSummary = makeLabel(this, QStringLiteral("lblSummary"), twRect(120, 6360, 9000, 495), QString());
    lblSummary->setWordWrap(true);
    cmdSave =
        makeButton(this, QStringLiteral("cmdSave"), twRect(10500, 6360, 1815, 375), QStringLiteral("Save as CSV..."));
    cmdClose = makeButton(this, QStringLiteral("cmdClose"), twRect(12465, 6360, 1815, 375), QStringLiteral("Close"));
    connect(cmdSave, &QPushButton::clicked, this, &frmPreview::cmdSave_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    fill();
}

void frmPreview::SetSaveFileName(SaveFileName ask)
{
    g_saveFileName = std::move(ask);
}

void frmPreview::fill()
{
    using HomePathUpdate::FolderState;
    grdPlan->setRowCount(int(m_plan.accounts.size()));
    int unchanged = 0, missing = 0, refused = 0, notChecked = 0;
    for (int row = 0; row < grdPlan->rowCount(); ++row) {
        const HomePathUpdate::PlannedAccount& a = m_plan.accounts[row];
        const QStringList f = HomePathCsv::planFields(a);
        const bool isRefused = !f[5].isEmpty();
        const QString folder = isRefused ? QStringLiteral("refused: ") + f[5] : a.folderText;
        QStringList cells(columnCount);
        cells[colAccount] = f[1];
        cells[colNew] = f[3];
        cells[colFolder] = folder;
        cells[colUnchanged] = f[4] == QLatin1String("yes") ? QStringLiteral("Yes") : QStringLiteral("No");
        cells[colCurrent] = f[2];
        cells[colDn] = f[0];
        for (int col = 0; col < columnCount; ++col)
            grdPlan->setItem(row, col, new QTableWidgetItem(cells[col]));
        unchanged += f[4] == QLatin1String("yes");
        refused += isRefused;
        missing += !isRefused && a.folder == FolderState::Missing;
        notChecked += !isRefused && a.folder == FolderState::NotChecked;
        if (!isRefused && (a.folder == FolderState::Missing || a.folder == FolderState::NotAFolder))
            grdPlan->item(row, colFolder)->setForeground(Qt::red);
    }
    grdPlan->resizeColumnsToContents();
    lblSummary->setText(QStringLiteral("%1 accounts; %2 unchanged; %3 missing folders; %4 not checked; %5 refused")
                            .arg(m_plan.accounts.size())
                            .arg(unchanged)
                            .arg(missing)
                            .arg(notChecked)
                            .arg(refused));
}

QString frmPreview::csv() const
{
    QString out = HomePathCsv::line(HomePathCsv::planHeader().split(u',') << QStringLiteral("folderExists"));
    for (qsizetype row = 0; row < m_plan.accounts.size(); ++row)
        out += HomePathCsv::line(HomePathCsv::planFields(m_plan.accounts[row]) << m_plan.accounts[row].folderText);
    return out;
}

void frmPreview::cmdSave_Click()
{
    const QString path = g_saveFileName ? g_saveFileName(this)
                                        : QFileDialog::getSaveFileName(this, QStringLiteral("Save the list as CSV"),
                                                                       QString(), QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!writeFileAtomically(path, csv().toUtf8(), &error))
        MsgBox(QStringLiteral("The list could not be saved: ") + error, vbOKOnly | vbExclamation,
               modMain::AppCaption());
}
