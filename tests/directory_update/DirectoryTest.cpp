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
        session = DirectorySession::open(err);
        ASSERT_TRUE(session) << err.text.toStdString();
    }
    QString dn(const QString& rdns) const { return rdns + "," + dc.baseDn; }
    qint64 users(const QString& base, DirectoryScope scope)
    {
        return session->count(base, scope, DirectorySession::userFilter(), err);
    }
    SambaDc dc;
    DirectoryError err;
    std::unique_ptr<DirectorySession> session;
};

// Runs directory_probe (a fresh process: libldap reads its configuration once) with a changed environment.
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

// The count the wizard shows must be the set the update touches: user accounts only.
TEST_F(DirectoryTest, listsOusAndCountsUserAccountsOnlyAsLdapsearchDoesForEveryOuAndScope)
{
    EXPECT_EQ(session->readRootDse("defaultNamingContext", err), dc.baseDn);
    EXPECT_FALSE(session->bindEntry(dn("OU=Nowhere"), err));
    EXPECT_EQ(err.code, 32) << err.text.toStdString(); // noSuchObject

    QStringList kids;
    for (const DirectoryChild& c : session->children(dc.baseDn, "organizationalUnit", err))
        kids << c.DistinguishedName;
    EXPECT_EQ(kids, LdapTool::dns(dc.baseDn, "one", "(objectClass=organizationalUnit)"));
    EXPECT_FALSE(kids.contains(dn("CN=Users"))) << "containers are not OUs";

    for (const QString& base : LdapTool::dns(dc.baseDn, "sub", "(objectClass=organizationalUnit)") + kids) {
        EXPECT_EQ(users(base, DirectoryScope::OneLevel),
                  LdapTool::dns(base, "one", DirectorySession::userFilter()).size())
            << base.toStdString();
        EXPECT_EQ(users(base, DirectoryScope::Subtree),
                  LdapTool::dns(base, "sub", DirectorySession::userFilter()).size())
            << base.toStdString();
    }
    EXPECT_EQ(users(dn("OU=Staff"), DirectoryScope::OneLevel), 3) << "the contact is not a user";
    EXPECT_EQ(users(dn("OU=Year7,OU=Students"), DirectoryScope::OneLevel), 3) << "the computer is not a user";
}

TEST_F(DirectoryTest, pagesThroughLargeResultsUntilTheServerSendsAnEmptyCookie)
{
    session->setPageSize(3);
    EXPECT_EQ(users(dn("OU=Students"), DirectoryScope::Subtree), 8);
    EXPECT_EQ(session->lastSearchPages(), 3); // 3 + 3 + 2
    // From the domain root AD also sends references to other partitions: skipped, not counted.
    session->setPageSize(2);
    EXPECT_EQ(users(dc.baseDn, DirectoryScope::Subtree),
              LdapTool::dns(dc.baseDn, "sub", DirectorySession::userFilter()).size());
    EXPECT_FALSE(err) << err.text.toStdString();
}

TEST_F(DirectoryTest, writesAnAttributeThatIsStoredWhenTheCallReturnsOrSaysWhyNot)
{
    const QString ou = dn("OU=LayerWrite");
    LdapTool::deleteTree(ou);
    ASSERT_TRUE(LdapTool::addOu(dc.baseDn, "LayerWrite"));
    ASSERT_TRUE(LdapTool::addUser(ou, "Wren Write", "w.write"));
    const QString path = "\\\\files\\home dirs$\\w.write";
    ASSERT_TRUE(session->writeAttribute("CN=Wren Write," + ou, "homeDirectory", path, err)) << err.text.toStdString();
    EXPECT_EQ(LdapTool::values("CN=Wren Write," + ou, "homeDirectory"), QStringList{path});
    LdapTool::deleteTree(ou);
    // A contact has no home directory: the server's refusal comes back with its text.
    EXPECT_FALSE(session->writeAttribute("CN=Pat Parent," + dn("OU=Staff"), "homeDirectory", path, err));
    EXPECT_EQ(err.code, 65) << err.text.toStdString();
}

TEST_F(DirectoryTest, saysWhyWithoutAConfigurationAServerOrATicket)
{
    const QString none = probe([](QProcessEnvironment& env) {
        env.remove("LDAPCONF");
        env.remove("LDAPURI");
        env.insert("LDAPNOINIT", "1"); // neither /etc/ldap/ldap.conf nor ~/.ldaprc: not localhost
    });
    EXPECT_TRUE(none.startsWith("ERR ") && none.contains("No directory configured")) << none.toStdString();
    const QString down = probe([](QProcessEnvironment& env) { env.insert("LDAPURI", "ldap://127.0.0.1:9"); });
    EXPECT_TRUE(down.startsWith("ERR -1 Can't contact LDAP server")) << down.toStdString();
    // The same server named through LDAPURI alone, without a file.
    const QString plain = probe([this](QProcessEnvironment& env) {
        env.remove("LDAPCONF");
        env.insert("LDAPURI", dc.ldapUri);
        env.insert("LDAPSASL_NOCANON", "on");
    });
    EXPECT_EQ(plain, "OK " + dc.ldapUri + ":389 " + dc.baseDn);

    qputenv("KRB5CCNAME", "FILE:/nonexistent/krb5cc_missing");
    EXPECT_FALSE(DirectorySession::open(err));
    EXPECT_TRUE(err.text.contains("No Kerberos credentials available")) << err.text.toStdString();
}
