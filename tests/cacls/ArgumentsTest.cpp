#include "cacls/CommandLine.h"
#include "cacls/UncPath.h"

#include <gtest/gtest.h>

using namespace cacls;

TEST(CaclsCommandLine, takesTheFirstArgumentAsTheFolderEachAccountAsOneArgumentAndRefusesWhatItCannotDo)
{
    for (const char* folder : {"-e", "/g", "--", "/srv/homes/j bloggs"}) {
        const auto parsed = parseCommandLine(
            {folder, "/E", "/G", "SCHOOL\\School Admins:F", "odd:name:f", "SCHOOL\\School Admins:F", "/T"});
        ASSERT_TRUE(parsed.request) << folder << ": " << parsed.error;
        EXPECT_EQ(parsed.request->folder, folder);
        EXPECT_EQ(parsed.request->accounts, (std::vector<std::string>{"SCHOOL\\School Admins", "odd:name"}));
    }
    const std::vector<std::vector<std::string>> bad{
        {""},                                // empty folder
        {"d", "/g", "jbloggs:F"},            // no /e: would replace the whole list
        {"d", "/e", "/g", "/t"},             // /g followed by a switch
        {"d", "/e", "/g", "jbloggs:R"},      // only full control
        {"d", "e", "/e", "/g", "jbloggs:F"}, // a second folder (a path cut at a blank)
    };
    for (const auto& args : bad) {
        const auto parsed = parseCommandLine(args);
        EXPECT_FALSE(parsed.request || parsed.error.empty()) << testing::PrintToString(args);
    }
}

// Kerberos cannot work with a server named by address: such paths are refused before connecting.
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
    for (const char* server : {"127.0.0.1", "10.1", "2130706433", "[fe80::1]", "fe80::1%eth0",
                               "fe80--1.ipv6-literal.net", "LOCALHOST", "localhost.localdomain"})
        EXPECT_TRUE(isAddressOrLocalhost(server)) << server;
    for (const char* server : {"fs01", "1st-floor-fs", "localhostile"})
        EXPECT_FALSE(isAddressOrLocalhost(server)) << server;
}
