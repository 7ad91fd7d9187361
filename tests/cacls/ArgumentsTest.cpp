#include "cacls/CommandLine.h"
#include "cacls/UncPath.h"

#include <gtest/gtest.h>

using namespace cacls;

TEST(CaclsCommandLine, takesTheFirstArgumentAsTheFolderEachAccountOnceAndRefusesWhatItCannotDo)
{
    for (const char* folder : {"-e", "/g", "--", "/srv/homes/j bloggs"}) {
        const auto parsed = parseCommandLine(
            {folder, "/E", "/G", "SCHOOL\\School Admins:F", "odd:name:f", "SCHOOL\\School Admins:F", "/T"});
        ASSERT_TRUE(parsed.request) << folder << ": " << parsed.error;
        EXPECT_EQ(parsed.request->folder, folder);
        EXPECT_EQ(parsed.request->accounts, (std::vector<std::string>{"SCHOOL\\School Admins", "odd:name"}));
    }
    // No folder; no /e (the whole list would be replaced); a switch for an account; less than full
    // control; a second folder (a path cut at a blank).
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{""},
                                               {"d", "/g", "jbloggs:F"},
                                               {"d", "/e", "/g", "/t"},
                                               {"d", "/e", "/g", "jbloggs:R"},
                                               {"d", "e", "/e", "/g", "jbloggs:F"}}) {
        const auto parsed = parseCommandLine(args);
        EXPECT_FALSE(parsed.request || parsed.error.empty()) << testing::PrintToString(args);
    }
    // Network paths: either separator, and nothing that escapes the share or names no folder.
    const ParsedUnc unc = parseUncPath(R"(\\fs01.school.local\homes$/Year 7\\j bloggs\)");
    ASSERT_TRUE(unc.path) << unc.error;
    EXPECT_EQ(unc.path->server + "|" + unc.path->share + "|" + unc.path->below,
              "fs01.school.local|homes$|Year 7/j bloggs");
    for (const char* text : {R"(\\fs01\)", R"(\\\fs01\homes$\x)", R"(\\fs01\homes$\a\..\b)", "\\\\fs01\\h$\\a\nb"})
        EXPECT_FALSE(parseUncPath(text).path) << text;
    EXPECT_FALSE(isUncPath("//fs01/homes$")); // a local path on Linux
}
