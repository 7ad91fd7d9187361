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
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
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

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
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

    QPointer<frmUpdate> openDialog()
    {
        QPointer<frmUpdate> dialog = new frmUpdate;
        dialog->vcUPDATECTL1->setConfigFileURL(configUrl());
        dialog->show();
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
        return dialog;
    }
    // Welcome -> version check; waits until the check has shown its outcome.
    static void checkVersion(vcUPDATECTL& c)
    {
        QTest::mouseClick(c.cmdNEXT, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return c.lblNO->isVisibleTo(&c) || c.lblYES->isVisibleTo(&c) ||
                       c.lblPROGRESS->text() == kConnectionError;
            },
            20000));
    }
    // Runs the check against a configuration offering downloadUrl, presses Next and waits for the end.
    std::unique_ptr<vcUPDATECTL> download(const QString& downloadUrl)
    {
        serveConfig("Tool 1.1\r\n1.0.999\r\n" + downloadUrl.toUtf8() + "\r\n");
        auto c = makeControl(configUrl());
        checkVersion(*c);
        QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
        EXPECT_EQ(c->wizardStep(), 2);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return c->cmdCANCEL->text() == "Finish" || c->lblPROGRESSUPDATE->text() == kConnectionError; },
            20000));
        return c;
    }

    LiveUpdateEnvironment env;
    LoopbackHttpServer server;
};

} // namespace

TEST_F(UpdateWizard, emptyAddressShowsTheErrorBoxAndStartsNothing)
{
    auto c = makeControl(vcUPDATECTL().ConfigFileURL()); // the default address
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "A configuration download URL was not provided.  Live Update cannot continue.");
    EXPECT_EQ(boxes.calls()[0].title, "Error");
    EXPECT_FALSE(c->cmdNEXT->isEnabled());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(UpdateWizard, wholeWizardFromWelcomeToDownloadedInItsDialog)
{
    const QByteArray file = pattern(200000);
    server.setRoute("/files/setup.exe", {200, file, true, 16384, 20});
    QDir(env.desktopFolder()).removeRecursively(); // created when needed
    serveConfig("Tool 1.1\r\n1.0.123\r\n" + server.url("/files/setup.exe").toUtf8() + "\r\n");
    EXPECT_EQ(frmUpdate().vcUPDATECTL1->ConfigFileURL(), liveupdate::DefaultConfigFileURL());
    QPointer<frmUpdate> dialog = openDialog();
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    QSignalSpy closeRequest(c, &vcUPDATECTL::CloseRequest);

    checkVersion(*c);
    EXPECT_TRUE(c->lblYES->isVisibleTo(c));
    EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: 1.0.123");
    EXPECT_EQ(QApplication::focusWidget(), c->cmdNEXT);
    EXPECT_EQ(c->ConfigFilePath(), env.configFilePath());
    EXPECT_FALSE(QFile::exists(env.configFilePath()));

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
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
    const QRegularExpression progress("^\\d+\\.\\d\\d KB of 200\\.00 KB downloaded\\.\\.\\.$");
    EXPECT_TRUE(
        std::any_of(captions.begin(), captions.end(), [&](const QString& t) { return progress.match(t).hasMatch(); }));
    EXPECT_EQ(QApplication::focusWidget(), c->cmdCANCEL);
    EXPECT_TRUE(readAll(target) == file);
    EXPECT_EQ(entries(env.desktopFolder()), QStringList({"setup.exe"}));

    QTest::mouseClick(c->cmdCANCEL, Qt::LeftButton);
    ASSERT_EQ(closeRequest.count(), 1);
    EXPECT_EQ(closeRequest[0][0].toString(), target);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000)); // closed and destroyed
}

struct ConfigCase {
    const char* name;
    QByteArray content;
    bool offered;
    QString webVersion;
    QString updateName;
    QString fileName;
};

void PrintTo(const ConfigCase& k, std::ostream* os) // names the case instead of dumping its bytes
{
    *os << k.name;
}

class ConfigFiles : public UpdateWizard, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigFiles, replaceAStaleCopyDecideTheOfferAndAreDeleted)
{
    const ConfigCase& k = GetParam();
    writeFile(env.configFilePath(), "Old\r\n1.0.122\r\nhttp://h/old.exe\r\n");
    serveConfig(k.content);
    auto c = makeControl(configUrl());
    checkVersion(*c);
    EXPECT_EQ(c->lblYES->isVisibleTo(c.get()), k.offered);
    EXPECT_EQ(c->lblNO->isVisibleTo(c.get()), !k.offered);
    EXPECT_EQ(c->cmdNEXT->isEnabled(), k.offered);
    EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: " + k.webVersion);
    EXPECT_EQ(c->updateName(), k.updateName);
    EXPECT_EQ(c->updateFileName(), k.fileName);
    EXPECT_TRUE(entries(env.tempFolder()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    LineEndsAndVersions, ConfigFiles,
    ::testing::Values(
        ConfigCase{"CrLfEqual", "Tool\r\n1.0.122\r\nhttp://h/d/setup.exe\r\n", false, "1.0.122", "Tool", "setup.exe"},
        ConfigCase{"LoneCrEqual", "Tool\r1.0.122\rhttp://h/d/setup.exe\r", false, "1.0.122", "Tool", "setup.exe"},
        ConfigCase{"LoneLfIsOneLine", "Tool\n1.0.122\nhttp://h/a\n", true, "", "Tool\n1.0.122\nhttp://h/a\n", ""},
        ConfigCase{"Different", "Tool\r\n1.0.121\r\nhttp://h/setup.exe", true, "1.0.121", "Tool", "setup.exe"},
        ConfigCase{"TrailingSpace", "Tool\r\n1.0.122 \r\nhttp://h/setup.exe", true, "1.0.122 ", "Tool", "setup.exe"},
        ConfigCase{"OneLine", "Tool 1.1\r\n", true, "", "Tool 1.1", ""}),
    [](const ::testing::TestParamInfo<ConfigCase>& param) { return std::string(param.param.name); });

TEST_F(UpdateWizard, failedCheckShowsTheConnectionErrorAndLeavesOnlyCancel)
{
    for (const QString& url :
         {server.url("/not/there.txt"), QString("http://127.0.0.1:%1/c.txt").arg(LoopbackHttpServer::closedPort())}) {
        auto c = makeControl(url);
        checkVersion(*c);
        EXPECT_EQ(c->lblPROGRESS->text(), kConnectionError) << url.toStdString();
        EXPECT_FALSE(c->cmdNEXT->isEnabled());
        EXPECT_TRUE(c->cmdCANCEL->isEnabled());
        EXPECT_TRUE(entries(env.tempFolder()).isEmpty()) << "an error page was saved";
    }
}

TEST_F(UpdateWizard, failedDownloadsSaveNothingAndKeepAnExistingFile)
{
    writeFile(env.desktopFolder() + "setup.exe", "the operator's own file");
    EXPECT_EQ(download(server.url("/files/setup.exe"))->lblPROGRESSUPDATE->text(), kConnectionError); // 404
    EXPECT_EQ(readAll(env.desktopFolder() + "setup.exe"), "the operator's own file");
    EXPECT_EQ(entries(env.desktopFolder()), QStringList({"setup.exe"}));

    // A plain file where the desktop folder should be: no one, root included, can write below it.
    QDir(env.desktopFolder()).removeRecursively();
    writeFile(env.root() + "/Desktop", "");
    server.setRoute("/files/setup.exe", {200, pattern(3000)});
    auto c = download(server.url("/files/setup.exe"));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError);
    EXPECT_TRUE(c->downloadedFile().isEmpty());
}

class UnsafeNames : public UpdateWizard, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnsafeNames, areRefusedWithoutAskingTheServer)
{
    server.setRoute(GetParam(), {200, "payload"});
    auto c = download(server.url(GetParam()));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError);
    QTest::qWait(50);
    EXPECT_EQ(server.requestCount(GetParam()), 0);
    EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());
    EXPECT_EQ(entries(env.root()).size(), 3); // temp, config, Desktop: nothing written beside them
}

INSTANTIATE_TEST_SUITE_P(FileNames, UnsafeNames,
                         ::testing::Values("/files/", "/files/..", "/files/.", "/files/..\\..\\evil.exe"));

TEST_F(UpdateWizard, captionsFollowTheTagIgnoreUnknownTotalsAndShowTheCompletion)
{
    vcUPDATECTL c;
    const QString file = c.desktopFolder() + "setup.exe";
    c.downloadProgress(512, 2048, c.ConfigFilePath());
    c.downloadProgress(500000, 1000000, file);
    c.downloadProgress(100, 0, file);
    c.downloadProgress(100, 0, c.ConfigFilePath());
    EXPECT_EQ(c.lblPROGRESS->text(), "512 bytes of 2048 bytes of configuration retreived.");
    EXPECT_EQ(c.lblPROGRESSUPDATE->text(), "0.50 MB of 1.00 MB downloaded...");

    c.downloadComplete(2350000, pattern(2350000), file);
    EXPECT_EQ(c.lblPROGRESSUPDATE->text(), "Download of 2.35 MB complete.");
    EXPECT_EQ(c.cmdCANCEL->text(), "Finish");
    EXPECT_EQ(readAll(file).size(), 2350000);
}

TEST_F(UpdateWizard, closingDuringADownloadAbandonsItQuietly)
{
    server.setRoute("/files/slow.bin", {200, pattern(400000), true, 8192, 0, 100000});
    serveConfig("Tool\r\n1.0.999\r\n" + server.url("/files/slow.bin").toUtf8() + "\r\n");
    QPointer<frmUpdate> dialog = openDialog();
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    checkVersion(*c);
    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->lblPROGRESSUPDATE->text().contains("downloaded"); }, 20000));

    QTest::mouseClick(c->cmdCANCEL, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 20000));
    QTest::qWait(50); // anything still queued for the control would arrive now
    EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());
}
