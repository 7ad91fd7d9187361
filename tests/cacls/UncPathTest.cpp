#include "cacls/UncPath.h"

#include <gtest/gtest.h>

using namespace cacls;

TEST(CaclsUncPath, splitsServerShareAndThePathBelowTheShare)
{
    struct Case {
        const char* text;
        const char* server;
        const char* share;
        const char* below;
    };
    const Case cases[] = {
        {R"(\\fs01\homes$\jbloggs)", "fs01", "homes$", "jbloggs"},
        {R"(\\fs01.school.local\homes$\Year 7\j bloggs\)", "fs01.school.local", "homes$", "Year 7/j bloggs"},
        {R"(\\fs01\homes$/staff//t.brown)", "fs01", "homes$", "staff/t.brown"},
        {R"(\\fs01\homes$\)", "fs01", "homes$", ""},
        {R"(\\fs01\homes$\-e)", "fs01", "homes$", "-e"},
    };
    for (const Case& c : cases) {
        const ParsedUnc parsed = parseUncPath(c.text);
        ASSERT_TRUE(parsed.path) << c.text << ": " << parsed.error;
        EXPECT_EQ(parsed.path->server, c.server) << c.text;
        EXPECT_EQ(parsed.path->share, c.share) << c.text;
        EXPECT_EQ(parsed.path->below, c.below) << c.text;
    }
}

TEST(CaclsUncPath, refusesPathsWithoutShareOrWithDotSegments)
{
    for (const char* text : {R"(\\fs01)", R"(\\fs01\)", R"(\\\fs01\homes$\x)", R"(\\fs01\homes$\a\..\b)",
                             R"(\\fs01\homes$\.\b)", "\\\\fs01\\homes$\\a\nb"}) {
        const ParsedUnc parsed = parseUncPath(text);
        EXPECT_FALSE(parsed.path) << text;
        EXPECT_FALSE(parsed.error.empty()) << text;
    }
    EXPECT_FALSE(isUncPath(R"(\fs01\homes$)"));
    EXPECT_FALSE(isUncPath("//fs01/homes$")); // a local path on Linux
}

TEST(CaclsUncPath, recognisesServersGivenByAddressInEveryForm)
{
    for (const char* server : {"127.0.0.1", "10.1.2.3", "10.1", "2130706433", "::1", "[fe80::1]", "fe80::1%eth0",
                               "fe80--1.ipv6-literal.net", "localhost", "LOCALHOST", "localhost.localdomain"})
        EXPECT_TRUE(isAddressOrLocalhost(server)) << server;
    for (const char* server : {"fs01", "dc1.school.local", "1st-floor-fs", "localhostile"})
        EXPECT_FALSE(isAddressOrLocalhost(server)) << server;
}
