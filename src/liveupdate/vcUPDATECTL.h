#pragma once

#include "Downloader.h"

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;
class QTemporaryFile;

// The live-update wizard as one self-contained control: it fetches the maker's
// configuration file, compares the version on offer with ours and downloads the
// offered file to the desktop. It never closes itself: it asks its host through
// CloseRequest. The host gives it the configuration address and nothing else.
class vcUPDATECTL : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString ConfigFileURL READ ConfigFileURL WRITE setConfigFileURL NOTIFY ConfigFileURLChanged)
public:
    explicit vcUPDATECTL(QWidget* parent = nullptr);
    ~vcUPDATECTL() override;

    QString ConfigFileURL() const { return m_configFileURL; }
    void setConfigFileURL(const QString& url);

    // The configuration download's tag. The copy itself goes to a new private
    // file beside it (ConfigFilePath() with a random part), never to this name:
    // in a shared temporary folder another user could have planted a link there.
    QString ConfigFilePath() const { return TempFolder + QStringLiteral("_vclu.txt"); }

    // Where the copy and the download go, for the host and for checks.
    QString tempFolder() const { return TempFolder; }
    QString desktopFolder() const { return DesktopFolder; }

    // The downloader's notifications (public so that a host could feed its own).
    void downloadProgress(qint64 bytesRead, qint64 total, const QString& tag);
    void downloadComplete(qint64 total, const QByteArray& body, const QString& tag);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblTitle2 = nullptr;
    std::array<QGroupBox*, 3> fraFRAME{};
    QLabel* lblSTEP1 = nullptr;
    QLabel* lblSTEP2 = nullptr;
    QLabel* lblPROGRESS = nullptr;
    QLabel* lblVERSION = nullptr;
    QLabel* lblNO = nullptr;
    QLabel* lblYES = nullptr;
    QLabel* lblUPDATE = nullptr;
    QLabel* lblPROGRESSUPDATE = nullptr;
    QPushButton* cmdNEXT = nullptr;
    QPushButton* cmdCANCEL = nullptr;

signals:
    // path: the downloaded file's full path, empty unless a download completed.
    void CloseRequest(const QString& path);
    void ConfigFileURLChanged();

private:
    void createControls();
    void UserControl_Initialize();
    void cmdNEXT_Click();
    void cmdCANCEL_Click();
    void BeginDownload(const QString& address, const QString& tag);
    void DownloadFinished(const QString& tag);
    bool SaveConfigFile(const QByteArray& body);
    bool ReadConfigFile(); // false when the copy could not be read
    void ShowProgress(qint64 bytesRead, qint64 total, const QString& tag);
    void ErrorMessage();

    QString TempFolder;
    QString m_configFileURL;
    QString LocalVersion;
    int WizardStep = 0;
    QString UpdateName;
    QString WebVersion;
    QString DownloadURL;
    QString DesktopFolder;
    QString UpdateFileName;
    QString DownloadedFile;
    qint64 DownloadTotal = 0;

    // The configuration copy, from its download until it has been read.
    std::unique_ptr<QTemporaryFile> m_configCopy;
    // Owned here and destroyed first, so no notification outlives the control.
    std::unique_ptr<Downloader> m_downloader;
};
