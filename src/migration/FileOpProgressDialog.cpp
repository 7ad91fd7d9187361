#include "FileOpProgressDialog.h"

#include "common/ByteSize.h"
#include "common/FormKit.h"
#include "common/modMain.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

using namespace fileop;
using FormKit::twRect;

FileOpProgressDialog::FileOpProgressDialog(QWidget* parent, int operation)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FileOpProgressDialog"));
    setWindowTitle(modMain::AppCaption().isEmpty() ? modMain::ProgramTitle() : modMain::AppCaption());
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(FormKit::tw(6600), FormKit::tw(2580));
    FormKit::setWhiteBackground(this);

    const QString verb = operation == FO_MOVE ? tr("Moving") : tr("Copying");
    lblAction = FormKit::makeLabel(this, QStringLiteral("lblAction"), twRect(240, 180, 6120, 255),
                                   verb + tr(" files..."), 9.75);
    lblCurrent = FormKit::makeLabel(this, QStringLiteral("lblCurrent"), twRect(240, 540, 6120, 255), QString());
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twRect(240, 900, 6120, 300));
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    lblCounts =
        FormKit::makeLabel(this, QStringLiteral("lblCounts"), twRect(240, 1320, 6120, 255), tr("Counting files..."));
    lblRate = FormKit::makeLabel(this, QStringLiteral("lblRate"), twRect(240, 1620, 6120, 255), QString());
    cmdCancel = FormKit::makeButton(this, QStringLiteral("cmdCancel"), twRect(4665, 2040, 1695, 375), tr("Cancel"));
    connect(cmdCancel, &QPushButton::clicked, this, &FileOpProgressDialog::requestCancel);
}

void FileOpProgressDialog::setProgress(const Progress& p)
{
    const QFontMetrics fm(lblCurrent->font());
    lblCurrent->setText(fm.elidedText(p.currentFile, Qt::ElideMiddle, lblCurrent->width()));
    // Busy while counting: a share of a growing total would run backwards.
    ProgressBar1->setRange(0, p.counting ? 0 : 1000);
    if (!p.counting && p.bytesTotal > 0)
        ProgressBar1->setValue(static_cast<int>(1000.0 * double(p.bytesDone) / double(p.bytesTotal)));
    else if (!p.counting && p.filesTotal > 0)
        ProgressBar1->setValue(static_cast<int>(1000.0 * double(p.filesDone) / double(p.filesTotal)));
    lblCounts->setText(countsText(p));
    // A second pass says how much of it needed no copying, on the shorter line.
    lblRate->setText(p.filesUpToDate > 0
                         ? tr("%1 (%2 already up to date)").arg(rateText(p), QLocale().toString(p.filesUpToDate))
                         : rateText(p));
}

QString FileOpProgressDialog::countsText(const Progress& p)
{
    if (p.filesTotal == 0)
        return tr("Counting files...");
    if (p.counting)
        return tr("%1 of %2 files found so far, %3 copied")
            .arg(QLocale().toString(p.filesDone), QLocale().toString(p.filesTotal), ByteSize::text(p.bytesDone));
    return tr("%1 of %2 files, %3 of %4")
        .arg(QLocale().toString(p.filesDone), QLocale().toString(p.filesTotal), ByteSize::text(p.bytesDone),
             ByteSize::text(p.bytesTotal));
}

QString FileOpProgressDialog::rateText(const Progress& p)
{
    if (p.counting || p.elapsedMs < 500 || p.bytesDone <= 0)
        return tr("Estimating the time left...");
    // The time left goes by the progress made; the rate shown by what was
    // written, so a second pass does not claim the speed of files it skipped.
    const double progressRate = double(p.bytesDone) * 1000.0 / double(p.elapsedMs);
    const qint64 left = static_cast<qint64>(double(std::max<qint64>(p.bytesTotal - p.bytesDone, 0)) / progressRate);
    const QString remaining = left >= 3600 ? tr("%1 h %2 min").arg(left / 3600).arg((left % 3600) / 60)
                              : left >= 60 ? tr("%1 min %2 s").arg(left / 60).arg(left % 60)
                                           : tr("%1 s").arg(left);
    if (p.bytesCopied <= 0)
        return tr("about %1 left").arg(remaining);
    const double rate = double(p.bytesCopied) * 1000.0 / double(p.elapsedMs);
    return tr("%1/s, about %2 left").arg(ByteSize::text(static_cast<qint64>(rate)), remaining);
}

void FileOpProgressDialog::reject()
{
    requestCancel();
}

void FileOpProgressDialog::requestCancel()
{
    if (!cmdCancel->isEnabled())
        return;
    cmdCancel->setEnabled(false);
    lblAction->setText(tr("Cancelling: the files in progress are finished or removed..."));
    emit cancelRequested();
}
