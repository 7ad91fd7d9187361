#include "cacls/CommandLine.h"

#include <gtest/gtest.h>

using cacls::parseCommandLine;

TEST(CaclsCommandLine, theFirstArgumentIsAlwaysTheFolderAndEachAccountOneArgument)
{
    for (const char* folder : {"-e", "/g", "--", "/srv/homes/j bloggs"}) {
        const auto parsed = parseCommandLine(
            {folder, "/E", "/G", "SCHOOL\\School Admins:F", "odd:name:f", "SCHOOL\\School Admins:F", "/T"});
        ASSERT_TRUE(parsed.request) << folder << ": " << parsed.error;
        EXPECT_EQ(parsed.request->folder, folder);
        EXPECT_EQ(parsed.request->accounts, (std::vector<std::string>{"SCHOOL\\School Admins", "odd:name"}));
    }
}

TEST(CaclsCommandLine, refusesWhatItCannotDoFaithfully)
{
    const std::vector<std::vector<std::string>> bad{
        {""},                                // empty folder
        {"d", "/g", "jbloggs:F"},            // no /e: would replace the whole list
        {"d", "/e", "/g", "/t"},             // /g followed by a switch
        {"d", "/e", "/g", "jbloggs:R"},      // only full control
        {"d", "/e", "/r", "jbloggs"},        // revoke
        {"d", "e", "/e", "/g", "jbloggs:F"}, // a second folder (a path cut at a blank)
    };
    for (const auto& args : bad) {
        const auto parsed = parseCommandLine(args);
        EXPECT_FALSE(parsed.request) << testing::PrintToString(args);
        EXPECT_FALSE(parsed.error.empty()) << testing::PrintToString(args);
    }
}
