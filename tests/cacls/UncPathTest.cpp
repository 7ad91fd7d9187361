#include "cacls/UncPath.h"

#include <gtest/gtest.h>

using namespace cacls;

TEST(CaclsUncPath, splitsServerShareAndPathAndRefusesWhatItCannotName)
{
    const ParsedUnc parsed = parseUncPath(R"(\\fs01.school.local\homes$/Year 7\\j bloggs\)");
    ASSERT_TRUE(parsed.path) << parsed.error;
    EXPECT_EQ(parsed.path->server, "fs01.school.local");
    EXPECT_EQ(parsed.path->share, "homes$");
    EXPECT_EQ(parsed.path->below, "Year 7/j bloggs");
    for (const char* text : {R"(\\fs01\)", R"(\\\fs01\homes$\x)", R"(\\fs01\homes$\a\..\b)", "\\\\fs01\\h$\\a\nb"})
        EXPECT_FALSE(parseUncPath(text).path) << text;
    EXPECT_FALSE(isUncPath("//fs01/homes$")); // a local path on Linux
}

TEST(CaclsUncPath, recognisesServersGivenByAddressInEveryForm)
{
    for (const char* server : {"127.0.0.1", "10.1", "2130706433", "[fe80::1]", "fe80::1%eth0",
                               "fe80--1.ipv6-literal.net", "LOCALHOST", "localhost.localdomain"})
        EXPECT_TRUE(isAddressOrLocalhost(server)) << server;
    for (const char* server : {"fs01", "1st-floor-fs", "localhostile"})
        EXPECT_FALSE(isAddressOrLocalhost(server)) << server;
}
