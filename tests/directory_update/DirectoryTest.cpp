#include "directory_update/Directory.h"
#include "LdapTool.h"
#include "SambaDc.h"

#include <gtest/gtest.h>

// Counts agree with ldapsearch for every OU, both scopes and the domain root, over several
// pages: Samba sends up to 1000 entries a page, so paging is seen only with small pages.
// (That the filter leaves out the seeded contact and computer is checked through the wizard.)
TEST(Directory, countsAsLdapsearchDoesForEveryOuAndScopeOverSeveralPages)
{
    const SambaDc dc = SambaDc::load();
    ASSERT_TRUE(dc.ok) << dc.error.toStdString();
    DirectoryError err;
    const auto session = DirectorySession::open(err);
    ASSERT_TRUE(session) << err.text.toStdString();
    const QString users = DirectorySession::userFilter();
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
