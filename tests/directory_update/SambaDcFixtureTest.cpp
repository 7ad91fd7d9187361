#include "LdapTool.h"
#include "SambaDc.h"

#include <QFileInfo>
#include <gtest/gtest.h>

// The fixture itself: a domain reachable with the private ticket and nothing else.
TEST(SambaDcFixture, servesTheSeededSchoolDomainToAKerberosClient)
{
    const SambaDc dc = SambaDc::load();
    ASSERT_TRUE(dc.ok) << dc.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists("/etc/krb5.conf")) << "the fixture must not write /etc";

    const LdapTool::Result root = LdapTool::search({"-b", "", "-s", "base", "defaultNamingContext"});
    ASSERT_EQ(root.exitCode, 0) << root.err.toStdString();
    EXPECT_TRUE(root.out.contains("defaultNamingContext: " + dc.baseDn));

    const QStringList ous = LdapTool::dns(dc.baseDn, "sub", "(objectClass=organizationalUnit)");
    for (const char* ou : {"OU=Staff,", "OU=Year7,OU=Staff,", "OU=Students,", "OU=Year7,OU=Students,",
                           "OU=Year8,OU=Students,", "OU=Form7A,OU=Year7,OU=Students,"})
        EXPECT_TRUE(ous.contains(QString::fromLatin1(ou) + dc.baseDn)) << ou;
    EXPECT_EQ(LdapTool::dns("OU=Year7,OU=Students," + dc.baseDn, "one", "(objectClass=computer)").size(), 1);
    EXPECT_EQ(LdapTool::dns("OU=Staff," + dc.baseDn, "one", "(objectClass=contact)").size(), 1);
    EXPECT_TRUE(QFileInfo(dc.homesDir + "/jbloggs/Documents/essay.txt").isFile());
}
