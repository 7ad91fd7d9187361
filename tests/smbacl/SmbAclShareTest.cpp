#include "SambaDc.h"
#include "ScopedEnv.h"
#include "ToolRun.h"
#include "directory_update/Directory.h"
#include "smbacl/GrantPool.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace smbacl;
using namespace std::chrono_literals;

namespace {

class SmbAclShare : public ::testing::Test {
protected:
    void SetUp() override
    {
        dc = SambaDc::load();
        ASSERT_TRUE(dc.ok) << dc.error.toStdString();
        // Helpers and smbcacls find dc1.school.local through nss_wrapper.
        env.set("LD_PRELOAD", dc.nssWrapperSo.toUtf8());
        env.set("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts.toUtf8());
        env.set("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        unc = dc.homesUnc;
    }

    QStringList smb(const QString& program, const QStringList& args)
    {
        const ToolRun run =
            runProgram(program, QStringList{"-s", dc.smbConf, "--use-kerberos=required", "-N", dc.smbShare} + args);
        EXPECT_EQ(run.exitCode, 0) << program.toStdString() << " " << args.join(' ').toStdString() << ": "
                                   << run.out.toStdString() << run.err.toStdString();
        return run.out.split('\n', Qt::SkipEmptyParts);
    }

    QString sidOf(const QString& sam)
    {
        const ToolRun run = runProgram("ldapsearch", {"-Y", "GSSAPI", "-Q", "-LLL", "-o", "ldif-wrap=no",
                                                      QString("(sAMAccountName=%1)").arg(sam), "objectSid"});
        for (const QString& line : run.out.split('\n'))
            if (line.startsWith("objectSid:: "))
                return ::sidText(QByteArray::fromBase64(line.mid(12).toLatin1()));
        ADD_FAILURE() << "no objectSid for " << sam.toStdString() << ": " << run.err.toStdString();
        return {};
    }

    // A home folder as a migration leaves it: made over SMB, one folder written straight
    // to disk (no NT ACL of its own), a protected folder with a folder of its own below,
    // explicit entries of others (a deny, which canonical order puts first, an
    // object-inherit-only one, a no-propagate one).
    void makeHome(const QString& name, bool rich)
    {
        ASSERT_TRUE(QDir(dc.homesDir + "/" + name).removeRecursively());
        if (!rich) {
            smb("smbclient", {"-c", QString("mkdir %1; cd %1; mkdir Documents; put %2 readme.txt; "
                                            "put %2 Documents\\essay.txt")
                                        .arg(name, dc.smbConf)});
            return;
        }
        smb("smbclient", {"-c", QString("mkdir %1; cd %1; mkdir Documents; mkdir Documents\\Year7; mkdir Locked; "
                                        "mkdir Locked\\Sub; put %2 readme.txt; put %2 Documents\\Year7\\notes.txt; "
                                        "put %2 Locked\\private.txt; put %2 Locked\\Sub\\deep.txt")
                                    .arg(name, dc.smbConf)});
        const QString disk = dc.homesDir + "/" + name;
        ASSERT_TRUE(QDir().mkpath(disk + "/FromDisk"));
        ASSERT_TRUE(QFile::copy(dc.smbConf, disk + "/FromDisk/photo.jpg"));
        smb("smbcacls", {name + "/Locked", "-I", "copy"});
        smb("smbcacls", {name, "-a",
                         "ACL:SCHOOL\\s.green:ALLOWED/0x0/READ,ACL:SCHOOL\\k.white:DENIED/0x0/D,"
                         "ACL:SCHOOL\\k.white:ALLOWED/OI/R"});
        smb("smbcacls", {name + "/Documents", "-a",
                         "ACL:SCHOOL\\y7.adams:ALLOWED/CI/CHANGE,ACL:SCHOOL\\y7.baker:ALLOWED/OI|NP/READ"});
    }

    // Every object below the folder (and the folder) -> its descriptor as smbcacls reads it.
    QMap<QString, QStringList> descriptors(const QString& name)
    {
        QMap<QString, QStringList> all;
        all.insert("", smb("smbcacls", {"--numeric", name}));
        QDirIterator it(dc.homesDir + "/" + name, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString rel = QDir(dc.homesDir + "/" + name).relativeFilePath(it.next());
            all.insert(rel, smb("smbcacls", {"--numeric", name + "/" + rel}));
        }
        return all;
    }

    void oracle(const QString& name, const QString& user)
    {
        smb("smbcacls",
            {"--set-security-info=4", "--propagate-inheritance", "-a",
             QString("ACL:SCHOOL\\%1:ALLOWED/OI|CI/FULL,ACL:SCHOOL\\%2:ALLOWED/OI|CI/FULL").arg(user, dc.adminGroup),
             name});
    }

    GrantRequest request(const QString& folder, const QString& user)
    {
        return {folder.toStdString(),
                {{("SCHOOL\\" + user).toStdString(), sidOf(user).toStdString()},
                 {("SCHOOL\\" + dc.adminGroup).toStdString(), adminSid.toStdString()}}};
    }

    PoolOptions options(unsigned workers = 3)
    {
        PoolOptions o;
        o.helper = SMBACL_HELPER;
        o.workers = workers;
        return o;
    }

    // What the permission tool (smbcacls) says for the same case, without "cacls: ".
    std::string toolSays(const QString& folder, const QString& account, const QString& ccache = {})
    {
        QProcessEnvironment how = QProcessEnvironment::systemEnvironment();
        if (!ccache.isEmpty())
            how.insert("KRB5CCNAME", ccache);
        const ToolRun run = runProgram(CACLS_TOOL, {folder, "/e", "/g", account + ":F"}, how);
        EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
        return run.err.trimmed().mid(QString("cacls: ").size()).toStdString();
    }

    static std::string mainText(const std::string& message) { return message.substr(0, message.find(" [")); }

    SambaDc dc;
    ScopedEnv env;
    QString unc;
    QString adminSid;
};

} // namespace

TEST_F(SmbAclShare, grantsExactlyWhatSmbcaclsGivesOnEveryObjectAndASecondRunChangesNothing)
{
    adminSid = sidOf(dc.adminGroup);
    ASSERT_TRUE(adminSid.startsWith("S-1-5-21-"));
    // Identical copies: smbcacls does the "oracle-" ones, the helpers the "fast-" ones.
    for (const QString side : {"oracle-", "fast-"}) {
        makeHome(side + "j", true);
        makeHome(side + "a", false);
        makeHome(side + "y", true);
        // A file where the folder was expected: granted itself, nothing to walk.
        QFile::remove(dc.homesDir + "/" + side + "file.txt");
        smb("smbclient", {"-c", QString("put %1 %2file.txt").arg(dc.smbConf, side)});
    }
    ASSERT_FALSE(HasFailure());
    const QList<std::pair<QString, QString>> homes{
        {"j", "jbloggs"}, {"a", "asmith"}, {"y", "y7.adams"}, {"file.txt", "s.green"}};
    const auto compare = [&](const char* when) {
        for (const auto& [home, user] : homes) {
            const auto expected = descriptors("oracle-" + home), got = descriptors("fast-" + home);
            ASSERT_EQ(got.keys(), expected.keys());
            for (const QString& key : expected.keys())
                EXPECT_EQ(got[key].join('\n').toStdString(), expected[key].join('\n').toStdString())
                    << when << ": " << home.toStdString() << "/" << key.toStdString();
        }
    };

    std::vector<GrantRequest> requests;
    for (const auto& [home, user] : homes)
        requests.push_back(request(unc + "\\fast-" + home, user));
    for (int round = 1; round <= 2; ++round) {
        for (const auto& [home, user] : homes)
            oracle("oracle-" + home, user);
        GrantPool pool(options());
        if (round == 1) // as a run starts them: connected ahead
            pool.prestart(requests.size(), requests.front().folder);
        const std::vector<GrantOutcome> outcomes = pool.grantAll(requests);
        EXPECT_EQ(pool.fallbackReason(), "");
        ASSERT_EQ(outcomes.size(), requests.size());
        for (const GrantOutcome& o : outcomes) {
            EXPECT_TRUE(o.ok) << o.message;
            EXPECT_FALSE(o.bySmbcacls);
            EXPECT_GE(o.objects, 1u);
            if (round == 1)
                EXPECT_GT(o.written, 0u);
            else
                EXPECT_EQ(o.written, 0u) << "the second run found something left to change";
        }
        compare(round == 1 ? "first run" : "second run");
    }
    // What the grant is about, read plainly: the entries are there, the protected child is not touched.
    const QStringList top = smb("smbcacls", {"fast-j"});
    EXPECT_TRUE(top.contains("ACL:SCHOOL\\jbloggs:ALLOWED/OI|CI/FULL")) << top.join('\n').toStdString();
    EXPECT_TRUE(top.filter("ACL:").value(0).contains(":DENIED/")) << "deny entry no longer first";
    EXPECT_FALSE(smb("smbcacls", {"fast-j/Locked"}).join('\n').contains("jbloggs"));
    EXPECT_TRUE(smb("smbcacls", {"fast-j/Documents/Year7/notes.txt"}).contains("ACL:SCHOOL\\jbloggs:ALLOWED/I/FULL"));
}

TEST_F(SmbAclShare, eachFailureSaysWhatThePermissionToolSaysAndTheOtherFoldersAreStillGranted)
{
    adminSid = sidOf(dc.adminGroup);
    makeHome("fail-a", false);
    makeHome("fail-b", false);
    ASSERT_FALSE(HasFailure());
    const QString noShare = "\\\\" + dc.smbServer + "\\corvane-noshare$\\x";
    const QString byAddress = "\\\\" + dc.address + "\\homes$\\fail-a";
    const QString noHost = "\\\\corvane-nohost.school.local\\homes$\\x";
    GrantRequest unknown = request(unc + "\\fail-a", "jbloggs");
    unknown.accounts[0] = {"SCHOOL\\corvane-nosuchuser", ""}; // the directory has no such account
    // Each failing folder against what the tool says for it; sound folders around them.
    const struct {
        GrantRequest request;
        QString folder, account;
    } failing[] = {
        {unknown, unc + "\\fail-a", "SCHOOL\\corvane-nosuchuser"},
        {request(unc + "\\NoSuchFolder", "jbloggs"), unc + "\\NoSuchFolder", "jbloggs"},
        {request(noShare, "jbloggs"), noShare, "jbloggs"},
        {request(byAddress, "jbloggs"), byAddress, "jbloggs"},
        {request(noHost, "jbloggs"), noHost, "jbloggs"},
    };
    std::vector<GrantRequest> requests{request(unc + "\\fail-a", "jbloggs")};
    for (const auto& f : failing)
        requests.push_back(f.request);
    requests.push_back(request(unc + "\\fail-b", "asmith"));
    GrantPool pool(options(2));
    const std::vector<GrantOutcome> outcomes = pool.grantAll(requests);
    ASSERT_EQ(outcomes.size(), 7u);
    EXPECT_TRUE(outcomes.front().ok) << outcomes.front().message;
    EXPECT_TRUE(outcomes.back().ok) << outcomes.back().message;
    for (std::size_t i = 0; i < std::size(failing); ++i) {
        const std::string& got = outcomes[i + 1].message;
        const std::string text = mainText(got);
        EXPECT_EQ(text, mainText(toolSays(failing[i].folder, failing[i].account))) << got;
        // A failure of the whole folder is told once, where the tool run for the account
        // and again for the group said it twice.
        EXPECT_EQ(got.find(text, 1), std::string::npos) << got;
    }
    EXPECT_NE(outcomes[2].message.find("folder not found"), std::string::npos) << outcomes[2].message;

    // Another operator's ticket: t.brown may not change permissions; then no ticket at all.
    const GrantRequest sound = request(unc + "\\fail-a", "jbloggs");
    for (const auto& [ccache, expected] :
         {std::pair{dc.staffCcname, "access denied"},
          std::pair{QString("FILE:/nonexistent/krb5cc_none"), "no valid Kerberos ticket"}}) {
        ScopedEnv ticket;
        ticket.set("KRB5CCNAME", ccache.toUtf8());
        GrantPool other(options(1));
        const auto failed = other.grantAll({sound});
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_FALSE(failed[0].ok);
        EXPECT_NE(failed[0].message.find(expected), std::string::npos) << failed[0].message;
        EXPECT_EQ(mainText(failed[0].message), mainText(toolSays(unc + "\\fail-a", "jbloggs", ccache)));
    }
}

TEST_F(SmbAclShare, aServerThatStopsAnsweringIsGivenUpOnWithAClearMessage)
{
    adminSid = sidOf(dc.adminGroup);
    // A listener that takes the connection and never says a word.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(445);
    const QString ip = QString("127.99.%1.%2").arg(getpid() % 200 + 20).arg(getpid() / 200 % 200 + 20);
    ASSERT_EQ(inet_pton(AF_INET, ip.toLatin1().constData(), &addr.sin_addr), 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << ip.toStdString();
    ASSERT_EQ(::listen(fd, 4), 0);
    QTemporaryDir dir;
    QFile hosts(dir.filePath("hosts"));
    ASSERT_TRUE(hosts.open(QIODevice::WriteOnly));
    QFile original(dc.nssWrapperHosts);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    // A name of its own each run: Samba's client keeps what a name resolved to in its cache.
    const QString name = QString("silent-%1.school.local").arg(getpid());
    hosts.write(original.readAll() + "\n" + ip.toLatin1() + " " + name.toLatin1() + "\n");
    hosts.close();
    ScopedEnv names;
    names.set("NSS_WRAPPER_HOSTS", hosts.fileName().toUtf8());

    PoolOptions o = options(1);
    o.idleTimeout = 3s;
    GrantPool pool(o);
    const GrantRequest silent = request("\\\\" + name + "\\homes$\\x", "jbloggs");
    const auto start = std::chrono::steady_clock::now();
    pool.prestart(1, silent.folder); // it hangs connecting ahead: the grant is what times out
    const auto outcomes = pool.grantAll({silent});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].ok);
    EXPECT_NE(outcomes[0].message.find("no answer from the server \"" + name.toStdString() + "\" for 3 s"),
              std::string::npos)
        << outcomes[0].message;
    ::close(fd);
}
