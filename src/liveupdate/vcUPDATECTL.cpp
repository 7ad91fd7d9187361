#include "vcUPDATECTL.h"

#include "ByteCounts.h"
#include "ConfigFile.h"
#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/SafeFileWriter.h"
#include "common/modMain.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryFile>

using namespace FormKit;

namespace {

// The control's own font; DejaVu Sans has Verdana's wide metrics.
QFont controlFont()
{
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans")});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont f(QStringLiteral("Verdana"));
    f.setPointSizeF(8.25);
    return f;
}

// Labels wrap at word boundaries within their box, as the wizard's texts expect.
QLabel* wizardLabel(QWidget* parent, const QString& name, const QRect& px, const QString& caption)
{
    QLabel* l = makeLabel(parent, name, px, caption);
    l->setFont(controlFont());
    l->setWordWrap(true);
    return l;
}

const QString kConnectionError = QStringLiteral("Error connecting to host.  Unable to complete Live Update.");

} // namespace

vcUPDATECTL::vcUPDATECTL(QWidget* parent)
    : QWidget(parent)
    , m_downloader(std::make_unique<Downloader>())
{
    setObjectName(QStringLiteral("vcUPDATECTL"));
    UserControl_Initialize();
    createControls();
    connect(m_downloader.get(), &Downloader::progress, this, &vcUPDATECTL::downloadProgress);
    connect(m_downloader.get(), &Downloader::completed, this, &vcUPDATECTL::downloadComplete);
}

vcUPDATECTL::~vcUPDATECTL()
{
    // Before any member or child goes: a transfer still running is abandoned silently.
    m_downloader.reset();
}

void vcUPDATECTL::createControls()
{
    setFont(controlFont());
    resize(tw(7485), tw(4215));

    std::tie(Image1, Label1, lblTitle2) = makeTitleBlock(this, 240, 240, false);

    for (int i = 0; i < 3; ++i) {
        fraFRAME[i] = makeFrame(this, QStringLiteral("fraFRAME(%1)").arg(i), twRect(480, 1440, 6495, 2055),
                                QStringLiteral("Step %1 of 3").arg(i + 1));
        fraFRAME[i]->setFont(controlFont());
        fraFRAME[i]->setVisible(i == 0);
    }

    lblSTEP1 = wizardLabel(fraFRAME[0], QStringLiteral("lblSTEP1"), twRect(240, 360, 6015, 1575),
                           QStringLiteral("Welcome to Live Update.  This wizard will walk you through checking for new "
                                          "updates of this software by connecting to the web and comparing version "
                                          "information.  This is done without sending any information to the host "
                                          "site.  Click Next to continue with the Live Update process."));

    lblSTEP2 = wizardLabel(fraFRAME[1], QStringLiteral("lblSTEP2"), twRect(240, 360, 6015, 255),
                           QStringLiteral("Connecting to host site and retrieving version information..."));
    lblPROGRESS =
        wizardLabel(fraFRAME[1], QStringLiteral("lblPROGRESS"), twRect(240, 600, 5295, 255), QStringLiteral(" "));
    lblVERSION =
        wizardLabel(fraFRAME[1], QStringLiteral("lblVERSION"), twRect(240, 960, 5295, 255), QStringLiteral(" "));
    lblNO = wizardLabel(fraFRAME[1], QStringLiteral("lblNO"), twRect(240, 1320, 5295, 615),
                        QStringLiteral("No update is required.  Click cancel to exit."));
    lblNO->hide();
    lblYES = wizardLabel(
        fraFRAME[1], QStringLiteral("lblYES"), twRect(240, 1320, 6135, 615),
        QStringLiteral("A new update is available, click next to download the update or click Cancel to exit."));
    lblYES->hide();

    lblUPDATE = wizardLabel(fraFRAME[2], QStringLiteral("lblUPDATE"), twRect(120, 240, 6255, 735),
                            QStringLiteral("Downloading update for: $n to $f"));
    lblPROGRESSUPDATE = wizardLabel(fraFRAME[2], QStringLiteral("lblPROGRESSUPDATE"), twRect(120, 1200, 6255, 255),
                                    QStringLiteral(" "));

    cmdNEXT = makeButton(this, QStringLiteral("cmdNEXT"), twRect(5760, 3600, 1215, 375), QStringLiteral("&Next >>"));
    cmdCANCEL = makeButton(this, QStringLiteral("cmdCANCEL"), twRect(4320, 3600, 1215, 375), QStringLiteral("&Cancel"));
    for (QPushButton* b : {cmdNEXT, cmdCANCEL}) {
        b->setFont(controlFont());
        b->setAutoDefault(false);
    }
    setTabOrder(cmdNEXT, cmdCANCEL);

    connect(cmdNEXT, &QPushButton::clicked, this, &vcUPDATECTL::cmdNEXT_Click);
    connect(cmdCANCEL, &QPushButton::clicked, this, &vcUPDATECTL::cmdCANCEL_Click);
}

void vcUPDATECTL::UserControl_Initialize()
{
    TempFolder = qEnvironmentVariable("TEMP");
    if (TempFolder.isEmpty())
        TempFolder = QDir::tempPath();
    if (!TempFolder.endsWith(QLatin1Char('/')))
        TempFolder += QLatin1Char('/');
    WizardStep = 0;
    DesktopFolder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (DesktopFolder.isEmpty()) // never let an unknown desktop become the root folder
        DesktopFolder = QDir::homePath() + QStringLiteral("/Desktop");
    DesktopFolder += QLatin1Char('/');
    LocalVersion = QStringLiteral("%1.%2.%3")
                       .arg(modMain::VersionMajor())
                       .arg(modMain::VersionMinor())
                       .arg(modMain::VersionRevision());
    DownloadedFile.clear();
}

void vcUPDATECTL::setConfigFileURL(const QString& url)
{
    if (url == m_configFileURL)
        return;
    m_configFileURL = url;
    emit ConfigFileURLChanged();
}

void vcUPDATECTL::cmdNEXT_Click()
{
    cmdCANCEL->setFocus();
    cmdNEXT->setEnabled(false);
    ++WizardStep;
    for (int i = 0; i < static_cast<int>(fraFRAME.size()); ++i)
        fraFRAME[i]->setVisible(i == WizardStep);

    if (WizardStep == 1) {
        if (!m_configFileURL.isEmpty()) {
            BeginDownload(m_configFileURL, ConfigFilePath());
        } else {
            MsgBox(QStringLiteral("A configuration download URL was not provided.  Live Update cannot continue."),
                   vbOKOnly | vbCritical, QStringLiteral("Error"));
            --WizardStep;
        }
    }
    if (WizardStep == 2) {
        QString caption = lblUPDATE->text();
        caption.replace(QStringLiteral("$n"), QStringLiteral("\r\n") + UpdateName);
        lblUPDATE->setText(caption);
        caption = lblUPDATE->text();
        caption.replace(QStringLiteral("$f"), QStringLiteral("\r\n") + DesktopFolder + UpdateFileName);
        lblUPDATE->setText(caption);
        // The name comes from the server: a path or an empty name must not reach the file system.
        if (!liveupdate::IsSafeFileName(UpdateFileName)) {
            ErrorMessage();
            return;
        }
        BeginDownload(DownloadURL, DesktopFolder + UpdateFileName);
    }
}

void vcUPDATECTL::cmdCANCEL_Click()
{
    emit CloseRequest(DownloadedFile);
}

void vcUPDATECTL::BeginDownload(const QString& address, const QString& tag)
{
    const qint64 cap = tag == ConfigFilePath() ? liveupdate::kConfigFileMaxBytes : liveupdate::kUpdateFileMaxBytes;
    Downloader::StartError error;
    if (!m_downloader->begin(QUrl(address), tag, cap, &error)) {
        MsgBox(QString::number(error.number) + QStringLiteral(":Error in call to BeginDownload().") +
                   QStringLiteral("\r\n\r\n") + QStringLiteral("Error Description: ") + error.description,
               vbOKOnly | vbCritical, QStringLiteral("Warning"));
    }
}

void vcUPDATECTL::downloadProgress(qint64 bytesRead, qint64 total, const QString& tag)
{
    if (total == 0)
        return;
    ShowProgress(bytesRead, total, tag);
}

void vcUPDATECTL::downloadComplete(qint64 total, const QByteArray& body, const QString& tag)
{
    if (total == 0) {
        ErrorMessage();
        return;
    }
    if (tag != ConfigFilePath()) {
        // A server that announced no size gave no progress: the body's length is the size.
        DownloadTotal = total;
        QDir().mkpath(DesktopFolder);
    }
    // A file that could not be written is not a completed download.
    const bool saved = tag == ConfigFilePath() ? SaveConfigFile(body) : writeFileAtomically(tag, body);
    if (!saved) {
        ErrorMessage();
        return;
    }
    DownloadFinished(tag);
}

bool vcUPDATECTL::SaveConfigFile(const QByteArray& body)
{
    // Created new (O_EXCL, mode 0600) under a random name: a link or file planted
    // in the shared folder is never written through, and no one else can read it.
    m_configCopy = std::make_unique<QTemporaryFile>(TempFolder + QStringLiteral("_vclu.XXXXXX.txt"));
    if (m_configCopy->open() && m_configCopy->write(body) == body.size() && m_configCopy->flush())
        return true;
    m_configCopy.reset();
    return false;
}

void vcUPDATECTL::DownloadFinished(const QString& tag)
{
    if (tag != ConfigFilePath()) {
        cmdCANCEL->setText(QStringLiteral("Finish"));
        cmdCANCEL->setFocus();
        lblPROGRESSUPDATE->setText(liveupdate::FileCompleteText(DownloadTotal));
        DownloadedFile = tag;
        return;
    }
    // Unread, the empty web version would differ from ours and offer an update.
    if (!ReadConfigFile()) {
        ErrorMessage();
        return;
    }
    lblVERSION->setText(QStringLiteral("Your version: ") + LocalVersion + QStringLiteral("    Web version: ") +
                        WebVersion);
    if (WebVersion == LocalVersion) {
        lblNO->setVisible(true);
        cmdCANCEL->setFocus();
        cmdNEXT->setEnabled(false);
    } else {
        lblYES->setVisible(true);
        cmdNEXT->setEnabled(true);
        cmdNEXT->setFocus();
    }
}

bool vcUPDATECTL::ReadConfigFile()
{
    // Read back through the descriptor it was written with, not by its name, and
    // deleted in any case: a copy that cannot be read is of no use to anyone.
    const std::unique_ptr<QTemporaryFile> file = std::move(m_configCopy);
    if (!file || !file->seek(0))
        return false; // the fields keep their values
    const QByteArray content = file->readAll();
    if (file->error() != QFileDevice::NoError)
        return false;

    const liveupdate::ConfigFile config = liveupdate::ParseConfigFile(content);
    UpdateName = config.updateName;
    WebVersion = config.webVersion;
    DownloadURL = config.downloadURL;
    if (config.hasDownloadLine)
        UpdateFileName = liveupdate::FileNameFromUrl(DownloadURL);
    return true;
}

void vcUPDATECTL::ShowProgress(qint64 bytesRead, qint64 total, const QString& tag)
{
    if (tag == ConfigFilePath()) {
        lblPROGRESS->setText(liveupdate::ConfigProgressText(bytesRead, total));
        return;
    }
    lblPROGRESSUPDATE->setText(liveupdate::FileProgressText(bytesRead, total));
    DownloadTotal = total;
}

void vcUPDATECTL::ErrorMessage()
{
    QLabel* label = WizardStep == 1 ? lblPROGRESS : lblPROGRESSUPDATE;
    label->setText(kConnectionError);
}
