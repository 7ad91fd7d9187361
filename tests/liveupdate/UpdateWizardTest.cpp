#include "LiveUpdateEnvironment.h"
#include "LoopbackHttpServer.h"
#include "ScriptedMsgBox.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/ConfigFile.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <ostream>

#include <gtest/gtest.h>

namespace {

const QString kConnectionError = "Error connecting to host.  Unable to complete Live Update.";

QByteArray pattern(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 13 + i / 509) & 0xff);
    return b;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

class UpdateWizard : public ::testing::Test {
protected:
    void SetUp() override
    {
        FormKit::InstallFontSubstitutes(); // as the program does at start
        QLocale::setDefault(QLocale::c());
        modMain::ComposeAppCaption();
    }
    void TearDown() override
    {
        while (QWidget* modal = QApplication::activeModalWidget())
            delete modal;
    }

    // A control on its own window, pointed at the loopback server.
    std::unique_ptr<vcUPDATECTL> makeControl(const QString& configUrl)
    {
        auto c = std::make_unique<vcUPDATECTL>();
        c->setConfigFileURL(configUrl);
        c->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(c.get()));
        return c;
    }

    void serveConfig(const QByteArray& content) { server.setRoute("/corvane/corvane.txt", {200, content}); }
    QString configUrl() const { return server.url("/corvane/corvane.txt"); }

    // Welcome -> version check; waits until the check has shown its outcome.
    void checkVersion(vcUPDATECTL& c)
    {
        QTest::mouseClick(c.cmdNEXT, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return c.lblNO->isVisibleTo(&c) || c.lblYES->isVisibleTo(&c) ||
                       c.lblPROGRESS->text() == kConnectionError;
            },
            20000));
    }

    LiveUpdateEnvironment env;
    LoopbackHttpServer server;
};

} // namespace

TEST_F(UpdateWizard, startsOnTheWelcomePageWithItsFoldersAndVersion)
{
    vcUPDATECTL c;
    EXPECT_EQ(c.ConfigFileURL(), "");
    EXPECT_EQ(c.property("ConfigFileURL").toString(), "");
    EXPECT_EQ(c.wizardStep(), 0);
    EXPECT_TRUE(c.fraFRAME[0]->isVisibleTo(&c));
    EXPECT_FALSE(c.fraFRAME[1]->isVisibleTo(&c));
    EXPECT_FALSE(c.fraFRAME[2]->isVisibleTo(&c));
    EXPECT_EQ(c.fraFRAME[1]->title(), "Step 2 of 3");
    EXPECT_TRUE(c.cmdNEXT->isEnabled());
    EXPECT_EQ(c.cmdNEXT->text(), "&Next >>");
    EXPECT_EQ(c.cmdCANCEL->text(), "&Cancel");
    EXPECT_EQ(c.lblPROGRESS->text(), " ");
    EXPECT_FALSE(c.lblNO->isVisibleTo(&c));
    EXPECT_FALSE(c.lblYES->isVisibleTo(&c));
    EXPECT_EQ(c.localVersion(), "1.0.122");
    EXPECT_EQ(c.ConfigFilePath(), env.configFilePath());
    EXPECT_EQ(c.desktopFolder(), env.desktopFolder());

    QSignalSpy changed(&c, &vcUPDATECTL::ConfigFileURLChanged);
    ASSERT_TRUE(c.setProperty("ConfigFileURL", "http://h/c.txt"));
    EXPECT_EQ(c.ConfigFileURL(), "http://h/c.txt");
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(UpdateWizard, temporaryFolderGetsExactlyOneSeparatorAndFallsBack)
{
    qputenv("TEMP", QFile::encodeName(env.tempFolder())); // already ends with "/"
    EXPECT_EQ(vcUPDATECTL().ConfigFilePath(), env.tempFolder() + "_vclu.txt");
    qunsetenv("TEMP");
    EXPECT_EQ(vcUPDATECTL().ConfigFilePath(), QDir::tempPath() + "/_vclu.txt");
}

TEST_F(UpdateWizard, emptyAddressShowsTheErrorBoxAndStartsNothing)
{
    auto c = makeControl("");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "A configuration download URL was not provided.  Live Update cannot continue.");
    EXPECT_EQ(boxes.calls()[0].title, "Error");
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly | vbCritical);
    EXPECT_EQ(c->wizardStep(), 0);
    EXPECT_TRUE(c->fraFRAME[1]->isVisibleTo(c.get()));
    EXPECT_FALSE(c->fraFRAME[0]->isVisibleTo(c.get()));
    EXPECT_FALSE(c->cmdNEXT->isEnabled());
    EXPECT_TRUE(c->cmdCANCEL->isEnabled());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(UpdateWizard, wholeWizardFromWelcomeToDownloadedInItsDialog)
{
    const QByteArray file = pattern(200000);
    server.setRoute("/files/setup.exe", {200, file, true, 16384, 20});
    serveConfig("Tool 1.1\r\n1.0.123\r\n" + server.url("/files/setup.exe").toUtf8() + "\r\n");

    QPointer<frmUpdate> dialog = new frmUpdate;
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    EXPECT_EQ(dialog->windowTitle(), "Corvane - File Migration Tool v1.0 BETA");
    c->setConfigFileURL(configUrl());
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    QSignalSpy closeRequest(c, &vcUPDATECTL::CloseRequest);

    checkVersion(*c);
    EXPECT_EQ(QApplication::focusWidget(), c->cmdNEXT); // the way on is offered
    EXPECT_EQ(c->wizardStep(), 1);
    EXPECT_TRUE(c->lblYES->isVisibleTo(c));
    EXPECT_FALSE(c->lblNO->isVisibleTo(c));
    EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: 1.0.123");
    EXPECT_FALSE(QFile::exists(env.configFilePath()));
    EXPECT_TRUE(QRegularExpression("^(\\d+) bytes of \\1 bytes of configuration retreived\\.$")
                    .match(c->lblPROGRESS->text())
                    .hasMatch())
        << c->lblPROGRESS->text().toStdString();
    EXPECT_TRUE(c->cmdNEXT->isEnabled());

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    EXPECT_TRUE(c->fraFRAME[2]->isVisibleTo(c));
    EXPECT_FALSE(c->fraFRAME[1]->isVisibleTo(c));
    const QString target = env.desktopFolder() + "setup.exe";
    EXPECT_EQ(c->lblUPDATE->text(), "Downloading update for: \r\nTool 1.1 to \r\n" + target);

    QSet<QString> captions;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            captions << c->lblPROGRESSUPDATE->text();
            return c->cmdCANCEL->text() == "Finish";
        },
        20000));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), "Download of 200.00 KB complete.");
    EXPECT_FALSE(c->cmdNEXT->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), c->cmdCANCEL);
    EXPECT_TRUE(readAll(target) == file);
    EXPECT_EQ(entries(env.desktopFolder()), QStringList({"setup.exe"}));
    const QRegularExpression progress("^\\d+\\.\\d\\d KB of 200\\.00 KB downloaded\\.\\.\\.$");
    int progressCaptions = 0;
    for (const QString& caption : captions)
        progressCaptions += progress.match(caption).hasMatch() ? 1 : 0;
    EXPECT_GE(progressCaptions, 1);

    QTest::mouseClick(c->cmdCANCEL, Qt::LeftButton);
    ASSERT_EQ(closeRequest.count(), 1);
    EXPECT_EQ(closeRequest[0][0].toString(), target);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000)); // closed and destroyed
}

TEST_F(UpdateWizard, equalVersionNeedsNoUpdate)
{
    serveConfig("Tool\r\n1.0.122\r\nhttp://127.0.0.1/setup.exe\r\n");
    auto c = makeControl(configUrl());
    checkVersion(*c);
    EXPECT_TRUE(c->lblNO->isVisibleTo(c.get()));
    EXPECT_FALSE(c->lblYES->isVisibleTo(c.get()));
    EXPECT_FALSE(c->cmdNEXT->isEnabled());
    EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: 1.0.122");
    EXPECT_EQ(c->lblNO->text(), "No update is required.  Click cancel to exit.");
    EXPECT_FALSE(QFile::exists(env.configFilePath()));
}

struct ConfigCase {
    const char* name;
    QByteArray content;
    bool offered;
    QString webVersion;
    QString updateName;
    QString fileName;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const ConfigCase& k, std::ostream* os)
{
    *os << k.name;
}

class ConfigFiles : public UpdateWizard, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigFiles, decideWhetherAnUpdateIsOffered)
{
    const ConfigCase& k = GetParam();
    serveConfig(k.content);
    auto c = makeControl(configUrl());
    checkVersion(*c);
    EXPECT_EQ(c->lblYES->isVisibleTo(c.get()), k.offered);
    EXPECT_EQ(c->lblNO->isVisibleTo(c.get()), !k.offered);
    EXPECT_EQ(c->cmdNEXT->isEnabled(), k.offered);
    EXPECT_EQ(c->webVersion(), k.webVersion);
    EXPECT_EQ(c->updateName(), k.updateName);
    EXPECT_EQ(c->updateFileName(), k.fileName);
    EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: " + k.webVersion);
    EXPECT_FALSE(QFile::exists(env.configFilePath()));
}

INSTANTIATE_TEST_SUITE_P(
    LineEndsAndVersions, ConfigFiles,
    ::testing::Values(
        ConfigCase{"CrLfEqual", "Tool\r\n1.0.122\r\nhttp://h/d/setup.exe\r\n", false, "1.0.122", "Tool", "setup.exe"},
        ConfigCase{"LoneCrEqual", "Tool\r1.0.122\rhttp://h/d/setup.exe\r", false, "1.0.122", "Tool", "setup.exe"},
        ConfigCase{"LoneLfIsOneLine", "Tool\n1.0.122\nhttp://h/setup.exe\n", true, "",
                   "Tool\n1.0.122\nhttp://h/setup.exe\n", ""},
        ConfigCase{"LowerVersion", "Tool\r\n1.0.121\r\nhttp://h/setup.exe", true, "1.0.121", "Tool", "setup.exe"},
        ConfigCase{"TrailingSpace", "Tool\r\n1.0.122 \r\nhttp://h/setup.exe", true, "1.0.122 ", "Tool", "setup.exe"},
        ConfigCase{"OneLine", "Tool 1.1\r\n", true, "", "Tool 1.1", ""},
        ConfigCase{"NoSlash", "Tool\r\n1.0.123\r\nsetup.exe\r\n", true, "1.0.123", "Tool", "setup.exe"},
        ConfigCase{"ExtraLinesIgnored", "Tool\r\n1.0.122\r\nhttp://h/a.zip\r\n1.0.999\r\nx\r\ny\r\n", false, "1.0.122",
                   "Tool", "a.zip"}),
    [](const ::testing::TestParamInfo<ConfigCase>& param) { return std::string(param.param.name); });

TEST_F(UpdateWizard, staleConfigurationCopyIsReplacedThenDeleted)
{
    QFile stale(env.configFilePath());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("Old\r\n1.0.122\r\nhttp://h/old.exe\r\n");
    stale.close();
    serveConfig("New\r\n1.0.200\r\nhttp://h/new.exe\r\n");
    auto c = makeControl(configUrl());
    checkVersion(*c);
    EXPECT_EQ(c->updateName(), "New");
    EXPECT_EQ(c->updateFileName(), "new.exe");
    EXPECT_TRUE(entries(env.tempFolder()).isEmpty());
}

TEST_F(UpdateWizard, failedCheckShowsTheConnectionErrorAndLeavesOnlyCancel)
{
    for (const QString& url :
         {server.url("/not/there.txt"),
          QString("http://127.0.0.1:%1/corvane/corvane.txt").arg(LoopbackHttpServer::closedPort())}) {
        auto c = makeControl(url);
        checkVersion(*c);
        EXPECT_EQ(c->lblPROGRESS->text(), kConnectionError) << url.toStdString();
        EXPECT_EQ(c->lblVERSION->text(), " ");
        EXPECT_FALSE(c->cmdNEXT->isEnabled());
        EXPECT_TRUE(c->cmdCANCEL->isEnabled());
        EXPECT_TRUE(entries(env.tempFolder()).isEmpty()) << "an error page was saved";
    }
}

TEST_F(UpdateWizard, addressThatCannotBeFetchedShowsTheWarningBox)
{
    auto c = makeControl("ftp://127.0.0.1/corvane/corvane.txt");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(boxes.calls()[0].text.startsWith("301:Error in call to BeginDownload().\r\n\r\nError Description: "))
        << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(boxes.calls()[0].title, "Warning");
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly | vbCritical);
    EXPECT_EQ(c->wizardStep(), 1);
    EXPECT_TRUE(c->fraFRAME[1]->isVisibleTo(c.get()));
    EXPECT_FALSE(c->cmdNEXT->isEnabled());
}

class UpdateDownload : public UpdateWizard {
protected:
    // Runs the check against a configuration offering downloadUrl, then presses Next.
    std::unique_ptr<vcUPDATECTL> startDownload(const QString& downloadUrl)
    {
        serveConfig("Tool 1.1\r\n1.0.999\r\n" + downloadUrl.toUtf8() + "\r\n");
        auto c = makeControl(configUrl());
        checkVersion(*c);
        EXPECT_TRUE(c->cmdNEXT->isEnabled());
        QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
        EXPECT_EQ(c->wizardStep(), 2);
        return c;
    }
    bool waitForEnd(vcUPDATECTL& c)
    {
        return QTest::qWaitFor(
            [&] { return c.cmdCANCEL->text() == "Finish" || c.lblPROGRESSUPDATE->text() == kConnectionError; }, 20000);
    }
};

TEST_F(UpdateDownload, unannouncedSizeStillReportsTheSizeDownloaded)
{
    server.setRoute("/nolength/setup.exe", {200, pattern(1500), false});
    auto c = startDownload(server.url("/nolength/setup.exe"));
    ASSERT_TRUE(waitForEnd(*c));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), "Download of 1.50 KB complete.");
    EXPECT_EQ(c->downloadedFile(), env.desktopFolder() + "setup.exe");
}

TEST_F(UpdateDownload, largeFileIsShownInMegabytes)
{
    const QByteArray file = pattern(1200000);
    server.setRoute("/files/big.bin", {200, file, true, 65536, 5});
    auto c = startDownload(server.url("/files/big.bin"));
    QSet<QString> captions;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            captions << c->lblPROGRESSUPDATE->text();
            return c->cmdCANCEL->text() == "Finish";
        },
        20000));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), "Download of 1.20 MB complete.");
    EXPECT_TRUE(readAll(env.desktopFolder() + "big.bin") == file);
    for (const QString& caption : captions) {
        if (caption.contains("downloaded")) {
            EXPECT_TRUE(caption.endsWith(" MB of 1.20 MB downloaded...")) << caption.toStdString();
        }
    }
}

TEST_F(UpdateDownload, failedDownloadSavesNothingAndKeepsAnExistingFile)
{
    QFile existing(env.desktopFolder() + "setup.exe");
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("the operator's own file");
    existing.close();
    auto c = startDownload(server.url("/files/setup.exe")); // no such route: 404
    ASSERT_TRUE(waitForEnd(*c));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError);
    EXPECT_EQ(c->cmdCANCEL->text(), "&Cancel");
    EXPECT_FALSE(c->cmdNEXT->isEnabled());
    EXPECT_EQ(readAll(env.desktopFolder() + "setup.exe"), "the operator's own file");
    EXPECT_EQ(entries(env.desktopFolder()), QStringList({"setup.exe"}));
    EXPECT_TRUE(c->downloadedFile().isEmpty());
}

TEST_F(UpdateDownload, unwritableDesktopIsAnErrorNotACompletion)
{
    // A plain file where the desktop folder should be: no one, root included, can write below it.
    QDir(env.desktopFolder()).removeRecursively();
    QFile blocker(env.root() + "/Desktop");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    server.setRoute("/files/setup.exe", {200, pattern(3000)});
    auto c = startDownload(server.url("/files/setup.exe"));
    ASSERT_TRUE(waitForEnd(*c));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError);
    EXPECT_NE(c->cmdCANCEL->text(), "Finish");
    EXPECT_TRUE(c->downloadedFile().isEmpty());
}

TEST_F(UpdateDownload, missingDesktopFolderIsCreated)
{
    QDir(env.desktopFolder()).removeRecursively();
    server.setRoute("/files/setup.exe", {200, pattern(3000)});
    auto c = startDownload(server.url("/files/setup.exe"));
    ASSERT_TRUE(waitForEnd(*c));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), "Download of 3.00 KB complete.");
    EXPECT_TRUE(readAll(env.desktopFolder() + "setup.exe") == pattern(3000));
}

class UnsafeNames : public UpdateDownload, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnsafeNames, areRefusedWithoutAskingTheServer)
{
    const QString url = server.url(GetParam());
    server.setRoute(GetParam(), {200, "payload"});
    auto c = startDownload(url);
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError);
    QTest::qWait(50);
    EXPECT_EQ(server.requestCount(GetParam()), 0);
    EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());
    EXPECT_TRUE(entries(env.root()).contains("Desktop"));
    EXPECT_EQ(entries(env.root()).size(), 3); // temp, config, Desktop: nothing written beside them
    EXPECT_NE(c->cmdCANCEL->text(), "Finish");
}

INSTANTIATE_TEST_SUITE_P(FileNames, UnsafeNames,
                         ::testing::Values("/files/", "/files/..", "/files/.", "/files/..\\..\\evil.exe"));

TEST_F(UpdateWizard, progressCaptionsFollowTheTagAndIgnoreUnknownTotals)
{
    vcUPDATECTL c;
    c.downloadProgress(512, 2048, c.ConfigFilePath());
    EXPECT_EQ(c.lblPROGRESS->text(), "512 bytes of 2048 bytes of configuration retreived.");
    EXPECT_EQ(c.lblPROGRESSUPDATE->text(), " ");

    const QString file = c.desktopFolder() + "setup.exe";
    c.downloadProgress(999990, 999999, file);
    EXPECT_EQ(c.lblPROGRESSUPDATE->text(), "999.99 KB of 1000.00 KB downloaded...");
    c.downloadProgress(500000, 1000000, file);
    EXPECT_EQ(c.lblPROGRESSUPDATE->text(), "0.50 MB of 1.00 MB downloaded...");
    EXPECT_EQ(c.lblPROGRESS->text(), "512 bytes of 2048 bytes of configuration retreived.");

    c.downloadProgress(100, 0, file);
    c.downloadProgress(100, 0, c.ConfigFilePath());
    EXPECT_EQ(c.lblPROGRESSUPDATE->text(), "0.50 MB of 1.00 MB downloaded...");
    EXPECT_EQ(c.lblPROGRESS->text(), "512 bytes of 2048 bytes of configuration retreived.");
}

TEST_F(UpdateDownload, completionCaptionUsesTheSizeOfTheDownload)
{
    vcUPDATECTL c;
    const QString file = env.desktopFolder() + "setup.exe";
    c.downloadProgress(0, 2350000, file);
    c.downloadComplete(2350000, pattern(2350000), file);
    EXPECT_EQ(c.lblPROGRESSUPDATE->text(), "Download of 2.35 MB complete.");
    EXPECT_EQ(c.cmdCANCEL->text(), "Finish");
    EXPECT_EQ(c.downloadedFile(), file);
    EXPECT_EQ(QFileInfo(file).size(), 2350000);
}

TEST_F(UpdateDownload, closingDuringADownloadAbandonsItQuietly)
{
    server.setRoute("/files/slow.bin", {200, pattern(400000), true, 8192, 0, 100000});
    serveConfig("Tool\r\n1.0.999\r\n" + server.url("/files/slow.bin").toUtf8() + "\r\n");
    QPointer<frmUpdate> dialog = new frmUpdate;
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    c->setConfigFileURL(configUrl());
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    checkVersion(*c);
    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->lblPROGRESSUPDATE->text().contains("downloaded"); }, 20000));

    QTest::mouseClick(c->cmdCANCEL, Qt::LeftButton); // Cancel while Downloading
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 20000));
    QTest::qWait(50); // anything still queued for the control would arrive now
    EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());
}

TEST_F(UpdateWizard, dialogHostsTheControlAndClosesByItsCloseButtonInAnyState)
{
    QPointer<frmUpdate> welcome = new frmUpdate;
    EXPECT_EQ(welcome->objectName(), "frmUpdate");
    EXPECT_EQ(welcome->windowTitle(), modMain::AppCaption());
    EXPECT_EQ(welcome->size(), QSize(502, 282));
    EXPECT_EQ(welcome->vcUPDATECTL1->geometry(), QRect(0, 0, 502, 281));
    EXPECT_EQ(welcome->vcUPDATECTL1->ConfigFileURL(), liveupdate::DefaultConfigFileURL());
    welcome->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(welcome));
    welcome->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return welcome.isNull(); }, 5000));

    serveConfig("Tool\r\n1.0.122\r\n");
    QPointer<frmUpdate> checked = new frmUpdate;
    checked->vcUPDATECTL1->setConfigFileURL(configUrl());
    checked->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(checked));
    checkVersion(*checked->vcUPDATECTL1);
    ASSERT_TRUE(checked->vcUPDATECTL1->lblNO->isVisible());
    QTest::keyClick(checked, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return checked.isNull(); }, 5000));
}
