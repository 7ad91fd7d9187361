#include "LiveUpdateTestKit.h"
#include "ScriptedMsgBox.h"
#include "common/SafeFileWriter.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kConnectionError = "Error connecting to host.  Unable to complete Live Update.";

class UpdateWizard : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void serveConfig(const QByteArray& content) { server.setRoute("/c.txt", {200, content}); }
    // Shows the control's window, leaves the welcome page and waits for the version check's outcome.
    void checkVersion(vcUPDATECTL& c, const QString& configUrl = {})
    {
        c.setConfigFileURL(configUrl.isEmpty() ? server.url("/c.txt") : configUrl);
        c.window()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(c.window()));
        QTest::mouseClick(c.cmdNEXT, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return c.lblNO->isVisibleTo(&c) || c.lblYES->isVisibleTo(&c) ||
                       c.lblPROGRESS->text() == kConnectionError;
            },
            20000));
    }
    std::unique_ptr<vcUPDATECTL> checked(const QString& configUrl = {})
    {
        auto c = std::make_unique<vcUPDATECTL>();
        checkVersion(*c, configUrl);
        return c;
    }
    // Offers downloadUrl, presses Next and waits for the download's end.
    std::unique_ptr<vcUPDATECTL> download(const QString& downloadUrl)
    {
        serveConfig("Tool 1.1\r\n1.0.999\r\n" + downloadUrl.toUtf8() + "\r\n");
        auto c = checked();
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

TEST_F(UpdateWizard, theConfigurationDecidesTheOfferAndAnOfferIsDownloadedInTheDialog)
{
    const QByteArray file = pattern(200000);
    server.setRoute("/files/setup.exe", {200, file});
    serveConfig("Tool 1.1\r\n1.0.123\r\n" + server.url("/files/setup.exe").toUtf8() + "\r\n");
    QDir(env.desktopFolder()).removeRecursively(); // created when needed
    QPointer<frmUpdate> dialog = new frmUpdate;
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    QSignalSpy closeRequest(c, &vcUPDATECTL::CloseRequest);
    checkVersion(*c);
    EXPECT_EQ(c->lblVERSION->text(), "Your version: 1.0.122    Web version: 1.0.123");
    EXPECT_TRUE(entries(env.tempFolder()).isEmpty()); // the configuration copy is deleted after reading

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    const QString target = env.desktopFolder() + "setup.exe";
    EXPECT_EQ(c->lblUPDATE->text(), "Downloading update for: \r\nTool 1.1 to \r\n" + target);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->cmdCANCEL->text() == "Finish"; }, 20000));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), "Download of 200.00 KB complete.");
    EXPECT_TRUE(readAll(target) == file);
    EXPECT_EQ(entries(env.desktopFolder()), QStringList({"setup.exe"})); // the temporary name is gone

    QTest::mouseClick(c->cmdCANCEL, Qt::LeftButton);
    ASSERT_EQ(closeRequest.count(), 1);
    EXPECT_EQ(closeRequest[0][0].toString(), target);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000)); // closed and destroyed
}

TEST_F(UpdateWizard, failuresAndAbandonedDownloadsShowTheConnectionErrorAndSaveNothing)
{
    {
        vcUPDATECTL c; // no address given: the control's default is empty
        c.show();
        ScriptedMsgBox boxes{MsgBoxAnswer::OK};
        QTest::mouseClick(c.cmdNEXT, Qt::LeftButton);
        EXPECT_EQ(boxes.texts(),
                  QStringList{"A configuration download URL was not provided.  Live Update cannot continue."});
        EXPECT_EQ(boxes.calls().at(0).title, "Error");
        EXPECT_FALSE(c.cmdNEXT->isEnabled());
        EXPECT_TRUE(server.requests.isEmpty());
    }
    auto c = checked(server.url("/not/there.txt"));
    EXPECT_EQ(c->lblPROGRESS->text(), kConnectionError);
    EXPECT_TRUE(entries(env.tempFolder()).isEmpty()) << "an error page was saved";

    const QString own = env.desktopFolder() + "setup.exe";
    ASSERT_TRUE(writeFileAtomically(own, "the operator's own file"));
    EXPECT_EQ(download(server.url("/files/setup.exe"))->lblPROGRESSUPDATE->text(), kConnectionError); // 404
    EXPECT_EQ(readAll(own), "the operator's own file");
    ASSERT_TRUE(QFile::remove(own));

    // A name that is no plain file name is refused before the download (each such name: ConfigFile's test).
    server.setRoute("/files/..", {200, "payload"});
    server.requests.clear();
    EXPECT_EQ(download(server.url("/files/.."))->lblPROGRESSUPDATE->text(), kConnectionError);
    QTest::qWait(50);
    EXPECT_EQ(server.requests.size(), 1) << "only the configuration file may be fetched";
    EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());
    EXPECT_EQ(entries(env.root()).size(), 3); // temp, config, Desktop: nothing written beside them

    server.setRoute("/files/slow.bin", {200, pattern(400000), 100000}); // then stalls
    serveConfig("Tool\r\n1.0.999\r\n" + server.url("/files/slow.bin").toUtf8() + "\r\n");
    c = checked();
    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->lblPROGRESSUPDATE->text().contains("downloaded"); }, 20000));
    c.reset(); // as closing the dialog does
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 20000));
    QTest::qWait(50); // anything still queued for the destroyed control would arrive now
    EXPECT_TRUE(entries(env.desktopFolder()).isEmpty());

    // A plain file where the desktop folder should be: no one, root included, can write below it.
    ASSERT_TRUE(QDir(env.desktopFolder()).removeRecursively());
    ASSERT_TRUE(QFile(env.root() + "/Desktop").open(QIODevice::WriteOnly));
    server.setRoute("/files/setup.exe", {200, pattern(3000)});
    c = download(server.url("/files/setup.exe"));
    EXPECT_EQ(c->lblPROGRESSUPDATE->text(), kConnectionError);
    EXPECT_NE(c->cmdCANCEL->text(), "Finish");
}

TEST_F(UpdateWizard, theConfigurationCopyIsPrivateAndNeverWrittenThroughAPlantedLink)
{
    // Another user's link in the shared temporary folder, to a file of ours and to a name not yet taken.
    const QString planted = env.tempFolder() + "_vclu.txt", victim = env.root() + "/victim.txt";
    ASSERT_TRUE(writeFileAtomically(victim, "precious"));
    serveConfig("Tool\r\n1.0.122\r\nhttp://h/setup.exe\r\n");
    for (const QString& target : {victim, env.root() + "/created-by-us.txt"}) {
        QFile::remove(planted);
        ASSERT_TRUE(QFile::link(target, planted));
        auto c = checked();
        EXPECT_TRUE(c->lblNO->isVisibleTo(c.get())) << "the check itself must still work";
        EXPECT_FALSE(c->cmdNEXT->isEnabled()) << "an equal version offers nothing";
        EXPECT_EQ(entries(env.tempFolder()), QStringList{"_vclu.txt"}) << "the private copy was not deleted";
        EXPECT_TRUE(QFileInfo(planted).isSymLink());
    }
    EXPECT_EQ(readAll(victim), "precious");
    EXPECT_FALSE(QFileInfo::exists(env.root() + "/created-by-us.txt"));

    // The download's name comes from the server: a link or a FIFO standing there
    // on the desktop is replaced by the file, never written through or opened.
    const QString onDesktop = env.desktopFolder() + "setup.exe";
    server.setRoute("/files/setup.exe", {200, pattern(200000)});
    for (const bool fifo : {false, true}) {
        QDir().mkpath(env.desktopFolder());
        QFile::remove(onDesktop);
        ASSERT_TRUE(fifo ? ::mkfifo(QFile::encodeName(onDesktop).constData(), 0644) == 0
                         : QFile::link(victim, onDesktop));
        EXPECT_EQ(download(server.url("/files/setup.exe"))->lblPROGRESSUPDATE->text(),
                  "Download of 200.00 KB complete.");
        EXPECT_FALSE(QFileInfo(onDesktop).isSymLink());
        EXPECT_EQ(QFileInfo(onDesktop).size(), 200000) << fifo;
    }
    EXPECT_EQ(readAll(victim), "precious");
}

TEST_F(UpdateWizard, aConfigurationFileOverItsCapIsAConnectionError)
{
    const QByteArray head = "Tool\r\n1.0.122\r\nhttp://h/setup.exe\r\n";
    serveConfig(head + QByteArray(64 * 1024 - head.size(), ' ')); // exactly the cap: read
    EXPECT_TRUE(checked()->lblNO->isVisible());
    serveConfig(head + QByteArray(64 * 1024 + 1 - head.size(), ' '));
    auto c = checked();
    EXPECT_EQ(c->lblPROGRESS->text(), kConnectionError);
    EXPECT_FALSE(c->lblNO->isVisibleTo(c.get()));
    EXPECT_TRUE(entries(env.tempFolder()).isEmpty());
}
