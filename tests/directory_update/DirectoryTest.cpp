#include "directory_update/Directory.h"
#include "LdapTool.h"
#include "SambaDc.h"

#include <gtest/gtest.h>

namespace {

// A session with the fixture's domain, opened as the program opens one.
class Directory : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dc.ok) << dc.error.toStdString();
        session = DirectorySession::open(err);
        ASSERT_TRUE(session) << err.text.toStdString();
    }

    const SambaDc dc = SambaDc::load();
    const QString users = DirectorySession::userFilter();
    DirectoryError err;
    std::unique_ptr<DirectorySession> session;
};

// objectSid as ldapsearch prints it (base64, "objectSid:: "), one per entry.
QStringList ldapSids(const QString& base, const QString& scope, const QString& filter)
{
    const QString out =
        ldapTool("ldapsearch", {"-LLL", "-o", "ldif-wrap=no", "-b", base, "-s", scope, filter, "objectSid"});
    QStringList sids;
    for (const QString& line : out.split('\n'))
        if (line.startsWith("objectSid:: "))
            sids << sidText(QByteArray::fromBase64(line.mid(12).toLatin1()));
    return sids;
}

} // namespace

// Counts agree with ldapsearch for every OU, both scopes and the domain root, over several
// pages: Samba sends up to 1000 entries a page, so paging is seen only with small pages.
// (That the filter leaves out the seeded contact and computer is checked through the wizard.)
TEST_F(Directory, countsAsLdapsearchDoesForEveryOuAndScopeOverSeveralPages)
{
    // From the domain root AD also sends references to other partitions: skipped, not counted.
    session->setPageSize(2);
    for (const QString& base :
         ldapValues(dc.baseDn, "sub", "(objectClass=organizationalUnit)") + QStringList{dc.baseDn}) {
        EXPECT_EQ(session->count(base, DirectoryScope::OneLevel, users, err), ldapValues(base, "one", users).size())
            << base.toStdString();
        EXPECT_EQ(session->count(base, DirectoryScope::Subtree, users, err), ldapValues(base, "sub", users).size())
            << base.toStdString();
    }
    EXPECT_FALSE(err) << err.text.toStdString();
    session->setPageSize(3);
    EXPECT_EQ(session->count("OU=Students," + dc.baseDn, DirectoryScope::Subtree, users, err), 8);
    EXPECT_EQ(session->lastSearchPages(), 3); // 3 + 3 + 2: read until the cookie is empty
}

// A SID is bytes: read as UTF-8 text it came back garbled. The search gives the
// S-1-... text for every account, the group's is found by its name anywhere in
// the domain, and bytes that are no SID give nothing rather than a wrong SID.
TEST_F(Directory, readsObjectSidAsItsTextAndFindsAGroupsSidByName)
{
    QStringList sids;
    ASSERT_TRUE(session->search(
        dc.baseDn, DirectoryScope::Subtree, users, {"sAMAccountName", "objectSid"},
        [&sids](const DirectoryEntry& e) { return sids << e.value("objectSid"), true; }, err))
        << err.text.toStdString();
    const QStringList expected = ldapSids(dc.baseDn, "sub", users);
    ASSERT_GE(expected.size(), 8);
    EXPECT_EQ(sids, expected);
    for (const QString& sid : sids)
        EXPECT_TRUE(sid.startsWith("S-1-5-21-")) << sid.toStdString();

    const QString group = dc.adminGroup.mid(dc.adminGroup.lastIndexOf('\\') + 1);
    const QString adminSid = session->accountSid(group, err);
    EXPECT_FALSE(err) << err.text.toStdString();
    EXPECT_EQ(adminSid, ldapSids(dc.baseDn, "sub", "(sAMAccountName=" + group + ")").value(0));
    EXPECT_TRUE(adminSid.startsWith("S-1-5-21-")) << adminSid.toStdString();
    EXPECT_TRUE(session->accountSid("no*such)group", err).isEmpty());
    EXPECT_TRUE(err);

    EXPECT_EQ(sidText(QByteArray::fromHex("010500000000000515000000a065cf7e784b9b5ffe77c87701020000")),
              "S-1-5-21-2127521184-1604012920-2009626622-513");
    EXPECT_EQ(sidText(QByteArray::fromHex("0102000000000005200000002002000000")), "") << "one byte too many";
    EXPECT_EQ(sidText(QByteArray::fromHex("01050000000000051500000000")), "") << "sub-authorities cut short";
    EXPECT_EQ(sidText({}), "");
}
