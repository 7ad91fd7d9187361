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
    for (const QString& line : QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
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

class AppFolderLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        // The program names its folder without links: compare with the real path.
        const QDir root(QFileInfo(m_root.path()).canonicalFilePath());
        for (const char* dir : {"opt/corvane", "etc/corvane", "var/log/corvane", "usr/bin"})
            ASSERT_TRUE(root.mkpath(QLatin1String(dir)));
        m_app = root.filePath(QStringLiteral("opt/corvane"));
        m_etc = root.filePath(QStringLiteral("etc/corvane"));
        m_log = root.filePath(QStringLiteral("var/log/corvane"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(CORVANE_APPFOLDER_PROBE), m_app + QStringLiteral("/corvane-probe")));
        ASSERT_TRUE(QFile::link(m_etc, m_app + QStringLiteral("/settings")));
        ASSERT_TRUE(QFile::link(m_log, m_app + QStringLiteral("/logs")));
        ASSERT_TRUE(
            QFile::link(m_app + QStringLiteral("/corvane-probe"), root.filePath(QStringLiteral("usr/bin/probe"))));
        QFile ini(m_etc + QStringLiteral("/corvane.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[SETTINGS]\r\nAdmGrp=\r\nUserPath=/srv/home/\r\n");
    }

    void expectFolderFoundThroughLinks(const QString& program)
    {
        const auto report = runProbe(program);
        ASSERT_FALSE(report.empty()) << "the probe did not run: " << qPrintable(program);
        EXPECT_EQ(report.at("folder"), m_app.toStdString());
        EXPECT_EQ(report.at("settings"), m_app.toStdString() + "/settings/corvane.ini");
        EXPECT_EQ(report.at("UserPath"), "/srv/home/");
        EXPECT_EQ(report.at("logged"), "1");
        EXPECT_EQ(report.at("saved"), "1 ");

        // Both writes landed in the linked folders, and the links are still links.
        EXPECT_EQ(readAll(m_etc + QStringLiteral("/corvane.ini")),
                  QByteArray("[SETTINGS]\r\nAdmGrp=Probe Admins\r\nUserPath=/srv/home/\r\n"));
        EXPECT_TRUE(readAll(m_log + QStringLiteral("/probe.txt")).contains(": probe line\"\r\n"));
        EXPECT_TRUE(QFileInfo(m_app + QStringLiteral("/settings")).isSymLink());
        EXPECT_TRUE(QFileInfo(m_app + QStringLiteral("/logs")).isSymLink());
        EXPECT_EQ(QDir(m_etc).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{QStringLiteral("corvane.ini")});
    }

    QTemporaryDir m_root;
    QString m_app, m_etc, m_log;
};

TEST_F(AppFolderLinks, programStartedInItsFolderUsesTheLinkedSettingsAndLogs)
{
    expectFolderFoundThroughLinks(m_app + QStringLiteral("/corvane-probe"));
}

TEST_F(AppFolderLinks, toolStartedThroughALinkOnThePathFindsTheProgramFolder)
{
    expectFolderFoundThroughLinks(QFileInfo(m_root.path()).canonicalFilePath() + QStringLiteral("/usr/bin/probe"));
}

} // namespace
