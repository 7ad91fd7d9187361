#include "LiveUpdateTestKit.h"
#include "ScriptedMsgBox.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/ConfigFile.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <gtest/gtest.h>

namespace {

const QString kConnectionError = "Error connecting to host.  Unable to complete Live Update.";

class UpdateWizard : public ::testing::Test {
protected:
    void SetUp() override
    {
        FormKit::InstallFontSubstitutes(); // as the program does at start
        QLocale::setDefault(QLocale::c());
        modMain::ComposeAppCaption();
    }
    void serveConfig(const QByteArray& content) { server.setRoute("/corvane/corvane.txt", {200, content}); }
    std::unique_ptr<vcUPDATECTL> makeControl(const QString& url = {})
    {
        auto c = std::make_unique<vcUPDATECTL>();
        c->setConfigFileURL(url.isEmpty() ? server.url("/corvane/corvane.txt") : url);
        c->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(c.get()));
        return c;
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
        auto c = makeControl();
        checkVersion(*c);
        QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return c->cmdCANCEL->text() == "Finish" || c->lblPROGRESSUPDATE->text() == kConnectionError; },
            20000));
        return c;
    }

    LiveUpdateEnvironment env;
    LoopbackHttpServer server;
};

} // namespace

TEST_F(UpdateWizard, wholeWizardFromWelcomeToDownloadedInItsDialog)
{
    const QByteArray file = pattern(200000);
    server.setRoute("/files/setup.exe", {200, file, true, 16384});
    QDir(env.desktopFolder()).removeRecursively(); // created when needed
    QFile stale(env.tempFolder() + "_vclu.txt");   // a copy left by an earlier run must not be read
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly) && stale.write("Old\r\n1.0.122\r\nhttp://h/old.exe\r\n") > 0);
    stale.close();
    serveConfig("Tool 1.1\r\n1.0.123\r\n" + server.url("/files/setup.exe").toUtf8() + "\r\n");
    EXPECT_EQ(frmUpdate().vcUPDATECTL1->ConfigFileURL(), liveupdate::DefaultConfigFileURL());
    QPointer<frmUpdate> dialog = new frmUpdate;
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    c->setConfigFileURL(server.url("/corvane/corvane.txt"));
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    QSignalSpy closeRequest(c, &vcUPDATECTL::CloseRequest);

    checkVersion(*c);
    EXPECT_TRUE(c->lblYES->isVisibleTo(c));
    EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: 1.0.123");
    EXPECT_EQ(QApplication::focusWidget(), c->cmdNEXT);
    EXPECT_TRUE(entries(env.tempFolder()).isEmpty()); // the configuration copy is deleted after reading

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    const QString target = env.desktopFolder() + "setup.exe";
    EXPECT_EQ(c->lblUPDATE->text(), "Downloading update for: \r\nTool 1.1 to \r\n" + target);
    QStringList captions;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            captions << c->lblPROGRESSUPDATE->text();
            return c->cmdCANCEL->text() == "Finish";
        },
        20000));
    EXPECT_FALSE(
        captions.filter(QRegularExpression("^\\d+\\.\\d\\d KB of 200\\.00 KB downloaded\\.\\.\\.$")).isEmpty());
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), "Download of 200.00 KB complete.");
    EXPECT_EQ(QApplication::focusWidget(), c->cmdCANCEL);
    EXPECT_TRUE(readAll(target) == file);
    EXPECT_EQ(entries(env.desktopFolder()), QStringList({"setup.exe"})); // the temporary name is gone

    QTest::mouseClick(c->cmdCANCEL, Qt::LeftButton);
    ASSERT_EQ(closeRequest.count(), 1);
    EXPECT_EQ(closeRequest[0][0].toString(), target);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000)); // closed and destroyed
}

TEST_F(UpdateWizard, lineEndsAndVersionsDecideTheOffer)
{
    struct Case {
        QByteArray content;
        bool offered;
        QString webVersion;
    };
    for (const Case& k : {Case{"Tool\r1.0.122\rhttp://h/d/setup.exe\r", false, "1.0.122"},
                          Case{"Tool\n1.0.122\nhttp://h/a\n", true, ""}}) { // a lone LF ends no line
        serveConfig(k.content);
        auto c = makeControl();
        checkVersion(*c);
        EXPECT_EQ(c->lblYES->isVisibleTo(c.get()), k.offered) << k.content.constData();
        EXPECT_EQ(c->lblNO->isVisibleTo(c.get()), !k.offered) << k.content.constData();
        EXPECT_EQ(c->cmdNEXT->isEnabled(), k.offered) << k.content.constData();
        EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: " + k.webVersion);
    }
}

TEST_F(UpdateWizard, failuresShowTheConnectionErrorAndSaveNothing)
{
    {
        vcUPDATECTL c; // no address given: the control's default is empty
        c.show();
        ScriptedMsgBox boxes{MsgBoxAnswer::OK};
        QTest::mouseClick(c.cmdNEXT, Qt::LeftButton);
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text,
                  "A configuration download URL was not provided.  Live Update cannot continue.");
        EXPECT_EQ(boxes.calls()[0].title, "Error");
        EXPECT_FALSE(c.cmdNEXT->isEnabled());
        EXPECT_TRUE(server.requests.isEmpty());
    }
    for (const QString& url :
         {server.url("/not/there.txt"), QString("http://127.0.0.1:%1/c.txt").arg(LoopbackHttpServer::closedPort())}) {
        auto c = makeControl(url);
        checkVersion(*c);
        EXPECT_EQ(c->lblPROGRESS->text(), kConnectionError) << url.toStdString();
        EXPECT_FALSE(c->cmdNEXT->isEnabled());
        EXPECT_TRUE(entries(env.tempFolder()).isEmpty()) << "an error page was saved";
    }

    QFile own(env.desktopFolder() + "setup.exe");
    ASSERT_TRUE(own.open(QIODevice::WriteOnly) && own.write("the operator's own file") > 0);
    own.close();
    EXPECT_EQ(download(server.url("/files/setup.exe"))->lblPROGRESSUPDATE->text(), kConnectionError); // 404
    EXPECT_EQ(readAll(own.fileName()), "the operator's own file");
    EXPECT_EQ(entries(env.desktopFolder()), QStringList({"setup.exe"}));

    // A plain file where the desktop folder should be: no one, root included, can write below it.
    ASSERT_TRUE(QDir(env.desktopFolder()).removeRecursively());
    QFile blocker(env.root() + "/Desktop");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    server.setRoute("/files/setup.exe", {200, pattern(3000)});
    auto c = download(server.url("/files/setup.exe"));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError);
    EXPECT_NE(c->cmdCANCEL->text(), "Finish");
    EXPECT_TRUE(c->downloadedFile().isEmpty());
}

TEST_F(UpdateWizard, unsafeFileNamesAreRefusedWithoutAskingTheServer)
{
    for (const QByteArray path : {"/files/", "/files/..", "/files/.", "/files/..\\..\\evil.exe"}) {
        server.setRoute(path, {200, "payload"});
        server.requests.clear();
        auto c = download(server.url(path));
        EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError) << path.constData();
        QTest::qWait(50);
        EXPECT_EQ(server.requests.size(), 1) << "only the configuration file may be fetched";
        EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());
        EXPECT_EQ(entries(env.root()).size(), 3); // temp, config, Desktop: nothing written beside them
    }
}

TEST_F(UpdateWizard, destroyingTheControlDuringADownloadAbandonsItQuietly)
{
    server.setRoute("/files/slow.bin", {200, pattern(400000), true, 8192, 100000}); // then stalls
    serveConfig("Tool\r\n1.0.999\r\n" + server.url("/files/slow.bin").toUtf8() + "\r\n");
    auto c = makeControl();
    checkVersion(*c);
    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->lblPROGRESSUPDATE->text().contains("downloaded"); }, 20000));
    c.reset(); // as closing the dialog does
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 20000));
    QTest::qWait(50); // anything still queued for the destroyed control would arrive now
    EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());
}
