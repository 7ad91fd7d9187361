#include "cacls/CommandLine.h"

#include <gtest/gtest.h>

using cacls::parseCommandLine;

TEST(CaclsCommandLine, firstArgumentIsAlwaysTheFolderEvenWhenItLooksLikeASwitch)
{
    for (const char* folder : {"-e", "/g", "/e", "--", "/t"}) {
        const auto parsed = parseCommandLine({folder, "/e", "/g", "jbloggs:F"});
        ASSERT_TRUE(parsed.request) << folder << ": " << parsed.error;
        EXPECT_EQ(parsed.request->folder, folder);
        EXPECT_EQ(parsed.request->accounts, std::vector<std::string>{"jbloggs"});
    }
}

TEST(CaclsCommandLine, acceptsSeveralAccountsDomainFormsAndBlanksAsOneArgumentEach)
{
    const auto parsed = parseCommandLine({"/srv/homes/j bloggs", "/E", "/G", "SCHOOL\\School Admins:F",
                                          "jbloggs@school.local:f", "SCHOOL\\School Admins:F", "/T", "/c"});
    ASSERT_TRUE(parsed.request) << parsed.error;
    EXPECT_EQ(parsed.request->folder, "/srv/homes/j bloggs");
    EXPECT_EQ(parsed.request->accounts, (std::vector<std::string>{"SCHOOL\\School Admins", "jbloggs@school.local"}));
}

TEST(CaclsCommandLine, theRightFollowsTheLastColon)
{
    const auto parsed = parseCommandLine({"d", "/e", "/g", "odd:name:F"});
    ASSERT_TRUE(parsed.request) << parsed.error;
    EXPECT_EQ(parsed.request->accounts, std::vector<std::string>{"odd:name"});
}

TEST(CaclsCommandLine, refusesWhatItCannotDoFaithfully)
{
    const std::vector<std::vector<std::string>> bad{
        {},                                  // nothing at all
        {""},                                // empty folder
        {"d", "/g", "jbloggs:F"},            // no /e: would replace the whole list
        {"d", "/e"},                         // nothing granted
        {"d", "/e", "/g"},                   // /g without account
        {"d", "/e", "/g", "/t"},             // /g followed by a switch
        {"d", "/e", "/g", "jbloggs"},        // no right
        {"d", "/e", "/g", ":F"},             // no account
        {"d", "/e", "/g", "jbloggs:R"},      // only full control
        {"d", "/e", "/r", "jbloggs"},        // revoke
        {"d", "/e", "/p", "jbloggs:F"},      // replace a user's rights
        {"d", "/e", "/x"},                   // unknown switch
        {"d", "e", "/e", "/g", "jbloggs:F"}, // a second folder (a path cut at a blank)
    };
    for (const auto& args : bad) {
        const auto parsed = parseCommandLine(args);
        EXPECT_FALSE(parsed.request) << testing::PrintToString(args);
        EXPECT_FALSE(parsed.error.empty()) << testing::PrintToString(args);
    }
}
