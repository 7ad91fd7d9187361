// The installed layout: the program folder holds settings/ and logs/ as links
// to folders elsewhere (/etc/corvane, /var/log/corvane) and the tools are
// started through links on the PATH. The program must find its folder and
// reach its settings and logs through those links, not around them.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// The probe's "key=value" report of what it found and did.
std::map<std::string, std::string> runProbe(const QString& program)
{
    QProcess p;
    p.start(program, {});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    std::map<std::string, std::string> report;
    for (const QString& line : QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n')) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0)
            report[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
    }
    return report;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

// Started in its folder, and as a tool through a link on the PATH.
TEST(AppFolderLinks, theProgramFindsItsFolderAndUsesTheLinkedSettingsAndLogsHoweverItIsStarted)
{
    for (const char* start : {"opt/corvane/corvane-probe", "usr/bin/probe"}) {
        SCOPED_TRACE(start);
        QTemporaryDir tmp;
        // The program names its folder without links: compare with the real path.
        const QDir root(QFileInfo(tmp.path()).canonicalFilePath());
        for (const char* dir : {"opt/corvane", "etc/corvane", "var/log/corvane", "usr/bin"})
            ASSERT_TRUE(root.mkpath(dir));
        const QString app = root.filePath("opt/corvane"), etc = root.filePath("etc/corvane"),
                      log = root.filePath("var/log/corvane");
        ASSERT_TRUE(QFile::copy(CORVANE_APPFOLDER_PROBE, app + "/corvane-probe"));
        ASSERT_TRUE(QFile::link(etc, app + "/settings") && QFile::link(log, app + "/logs") &&
                    QFile::link(app + "/corvane-probe", root.filePath("usr/bin/probe")));
        QFile ini(etc + "/corvane.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[SETTINGS]\r\nAdmGrp=\r\nUserPath=/srv/home/\r\n");
        ini.close();

        const auto report = runProbe(root.filePath(start));
        ASSERT_FALSE(report.empty()) << "the probe did not run";
        EXPECT_EQ(report.at("folder"), app.toStdString());
        EXPECT_EQ(report.at("settings"), app.toStdString() + "/settings/corvane.ini");
        EXPECT_EQ(report.at("UserPath"), "/srv/home/");
        EXPECT_EQ(report.at("logged"), "1");
        EXPECT_EQ(report.at("saved"), "1 ");
        // Both writes landed in the linked folders, and the links are still links.
        EXPECT_EQ(readAll(etc + "/corvane.ini"),
                  QByteArray("[SETTINGS]\r\nAdmGrp=Probe Admins\r\nUserPath=/srv/home/\r\n"));
        EXPECT_TRUE(readAll(log + "/probe.txt").contains(": probe line\"\r\n"));
        EXPECT_TRUE(QFileInfo(app + "/settings").isSymLink() && QFileInfo(app + "/logs").isSymLink());
        EXPECT_EQ(QDir(etc).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{"corvane.ini"});
    }
}
