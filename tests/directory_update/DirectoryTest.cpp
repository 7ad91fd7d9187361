#include "directory_update/Directory.h"
#include "LdapTool.h"
#include "SambaDc.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dc = SambaDc::load();
        ASSERT_TRUE(dc.ok) << dc.error.toStdString();
    }
    std::unique_ptr<DirectorySession> open()
    {
        DirectoryError err;
        auto s = DirectorySession::open(err);
        EXPECT_TRUE(s) << err.text.toStdString();
        return s;
    }
    QString dn(const QString& rdns) const { return rdns.isEmpty() ? dc.baseDn : rdns + "," + dc.baseDn; }
    SambaDc dc;
};

// Runs directory_probe (a fresh process) with the fixture's environment changed.
QString probe(const std::function<void(QProcessEnvironment&)>& change)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    change(env);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PROBE_PATH), {});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

TEST_F(DirectoryTest, bindsWithTheTicketToTheServerTheClientConfigurationNames)
{
    EXPECT_EQ(DirectorySession::configuredUri(), dc.ldapUri + ":389");
    auto s = open();
    ASSERT_TRUE(s);
    DirectoryError err;
    EXPECT_EQ(s->readRootDse("defaultNamingContext", err), dc.baseDn);
    EXPECT_FALSE(err) << err.text.toStdString();
    EXPECT_TRUE(s->bindEntry(dn("OU=Students"), err));
    EXPECT_FALSE(s->bindEntry(dn("OU=Nowhere"), err));
    EXPECT_EQ(err.code, 32) << err.text.toStdString(); // noSuchObject, with the server's text
    EXPECT_TRUE(err.text.contains("No such object")) << err.text.toStdString();
}

TEST_F(DirectoryTest, listsChildOusWithNameDnAndPathInTheServersOrder)
{
    auto s = open();
    ASSERT_TRUE(s);
    DirectoryError err;
    const QList<DirectoryChild> kids = s->children(dc.baseDn, "organizationalUnit", err);
    ASSERT_FALSE(err) << err.text.toStdString();
    QStringList got;
    for (const DirectoryChild& c : kids) {
        got << c.DistinguishedName;
        EXPECT_EQ(c.ADsPath, "LDAP://" + c.DistinguishedName);
        EXPECT_EQ(c.Name, c.DistinguishedName.section(',', 0, 0));
    }
    EXPECT_EQ(got, LdapTool::dns(dc.baseDn, "one", "(objectClass=organizationalUnit)"));
    EXPECT_TRUE(got.contains(dn("OU=Staff")));
    EXPECT_FALSE(got.contains(dn("CN=Users"))) << "containers are not OUs";
}

// The count the wizard shows must be the set the update touches: user accounts
// only. Each OU, one level and subtree, against ldapsearch's answer.
TEST_F(DirectoryTest, countsUserAccountsOnlyAsLdapsearchDoesForEveryOuAndScope)
{
    auto s = open();
    ASSERT_TRUE(s);
    const QStringList bases{dc.baseDn,
                            dn("OU=Staff"),
                            dn("OU=Year7,OU=Staff"),
                            dn("OU=Students"),
                            dn("OU=Year7,OU=Students"),
                            dn("OU=Form7A,OU=Year7,OU=Students"),
                            dn("OU=Year8,OU=Students"),
                            dn("CN=Users")};
    for (const QString& base : bases) {
        for (const auto& [scope, name] :
             {std::pair{DirectoryScope::OneLevel, "one"}, {DirectoryScope::Subtree, "sub"}}) {
            DirectoryError err;
            const qint64 n = s->count(base, scope, DirectorySession::userFilter(), err);
            EXPECT_FALSE(err) << err.text.toStdString();
            const qsizetype expected = LdapTool::dns(base, name, DirectorySession::userFilter()).size();
            EXPECT_EQ(n, expected) << base.toStdString() << " " << name;
        }
    }
    DirectoryError err;
    // Staff: three users and a contact; Year7: three users and a computer.
    EXPECT_EQ(s->count(dn("OU=Staff"), DirectoryScope::OneLevel, DirectorySession::userFilter(), err), 3);
    EXPECT_EQ(s->count(dn("OU=Year7,OU=Students"), DirectoryScope::OneLevel, DirectorySession::userFilter(), err), 3);
    EXPECT_EQ(s->count(dn("OU=Students"), DirectoryScope::Subtree, DirectorySession::userFilter(), err), 8);
}

TEST_F(DirectoryTest, pagesThroughLargeResultsUntilTheServerSendsAnEmptyCookie)
{
    auto s = open();
    ASSERT_TRUE(s);
    DirectoryError err;
    s->setPageSize(3);
    EXPECT_EQ(s->count(dn("OU=Students"), DirectoryScope::Subtree, DirectorySession::userFilter(), err), 8);
    EXPECT_EQ(s->lastSearchPages(), 3); // 3 + 3 + 2
    s->setPageSize(2);
    EXPECT_EQ(s->count(dn("OU=Students"), DirectoryScope::Subtree, DirectorySession::userFilter(), err), 8);
    EXPECT_GE(s->lastSearchPages(), 4); // Samba adds an empty fifth page after an exact fit
    // From the domain root AD also sends references to other partitions: skipped, not counted.
    const qint64 all = s->count(dc.baseDn, DirectoryScope::Subtree, DirectorySession::userFilter(), err);
    EXPECT_FALSE(err) << err.text.toStdString();
    EXPECT_EQ(all, LdapTool::dns(dc.baseDn, "sub", DirectorySession::userFilter()).size());
    EXPECT_GE(s->lastSearchPages(), int(all / 2));
}

TEST_F(DirectoryTest, writesAnAttributeThatIsStoredWhenTheCallReturns)
{
    const QString ou = dn("OU=LayerWrite");
    LdapTool::deleteTree(ou);
    ASSERT_TRUE(LdapTool::addOu(dc.baseDn, "LayerWrite"));
    ASSERT_TRUE(LdapTool::addUser(ou, "Wren Write", "w.write"));
    const QString user = "CN=Wren Write," + ou;
    auto s = open();
    ASSERT_TRUE(s);
    DirectoryError err;
    EXPECT_EQ(s->readAttribute(user, "sAMAccountName", err), "w.write");
    const QString path = "\\\\files\\home dirs$\\w.write";
    ASSERT_TRUE(s->writeAttribute(user, "homeDirectory", path, err)) << err.text.toStdString();
    EXPECT_EQ(LdapTool::values(user, "homeDirectory"), QStringList{path});
    EXPECT_EQ(s->readAttribute(user, "homeDirectory", err), path);
    // A contact has no home directory: the server's refusal comes back with its text.
    EXPECT_FALSE(s->writeAttribute("CN=Pat Parent," + dn("OU=Staff"), "homeDirectory", path, err));
    EXPECT_EQ(err.code, 65) << err.text.toStdString();
    EXPECT_TRUE(err.text.contains("00002014")) << err.text.toStdString();
    LdapTool::deleteTree(ou);
}

TEST_F(DirectoryTest, reportsTheServersRefusalForAnOperatorWithoutRights)
{
    qputenv("KRB5CCNAME", dc.staffCcname.toUtf8()); // t.brown, not an admin
    auto s = open();
    ASSERT_TRUE(s);
    DirectoryError err;
    EXPECT_FALSE(s->writeAttribute("CN=Amy Adams," + dn("OU=Year7,OU=Students"), "homeDirectory", "x", err));
    EXPECT_EQ(err.code, 50);
    EXPECT_TRUE(err.text.contains("Insufficient access")) << err.text.toStdString();
}

TEST_F(DirectoryTest, failsTheBindWithKerberosTextWhenThereIsNoTicket)
{
    qputenv("KRB5CCNAME", "FILE:/nonexistent/krb5cc_missing");
    DirectoryError err;
    auto s = DirectorySession::open(err);
    EXPECT_FALSE(s);
    EXPECT_EQ(err.code, -2);
    EXPECT_TRUE(err.text.contains("No Kerberos credentials available")) << err.text.toStdString();
}

TEST_F(DirectoryTest, saysNoDirectoryIsConfiguredInsteadOfTryingLocalhost)
{
    const QString none = probe([](QProcessEnvironment& env) {
        env.remove("LDAPCONF");
        env.remove("LDAPURI");
        env.insert("LDAPNOINIT", "1"); // neither /etc/ldap/ldap.conf nor ~/.ldaprc
    });
    EXPECT_TRUE(none.startsWith("ERR ")) << none.toStdString();
    EXPECT_TRUE(none.contains("No directory configured")) << none.toStdString();

    const QString down = probe([](QProcessEnvironment& env) { env.insert("LDAPURI", "ldap://127.0.0.1:9"); });
    EXPECT_TRUE(down.startsWith("ERR -1 Can't contact LDAP server")) << down.toStdString();

    // The same server named through LDAPURI/LDAPBASE alone, without a file.
    const QString plain = probe([this](QProcessEnvironment& env) {
        env.remove("LDAPCONF");
        env.insert("LDAPURI", dc.ldapUri);
        env.insert("LDAPSASL_NOCANON", "on");
    });
    EXPECT_EQ(plain, "OK " + dc.ldapUri + ":389 " + dc.baseDn);
}
