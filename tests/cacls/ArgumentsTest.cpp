#include "cacls/CommandLine.h"
#include "cacls/SmbGrant.h"
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

// What smbcacls printed, read back as the one cause the operator can act on.
// No domain controller needed: each row is smbcacls's own output for a case
// met against the test domain.
TEST(SmbFailure, eachSmbcaclsFailureGetsItsOwnMessage)
{
    const cacls::UncPath path{"files", "homes$", "j.doe"};
    const std::string folder = "\\\\files\\homes$\\j.doe";
    struct Row {
        std::string err;
        int exitCode;
        std::string starts;
    };
    for (const Row& row : std::vector<Row>{
             {"failed to convert 'SCHOOL\\nosuch' to SID", 1, "unknown account \"SCHOOL\\nosuch\""},
             {"Kerberos auth with 'x@SCHOOL' (SCHOOL\\x) to access '10.0.0.5' not possible", 1,
              "Kerberos cannot be used with the server \"files\""},
             {"cli_full_connection failed! (NT_STATUS_INVALID_PARAMETER)", 1, "no valid Kerberos ticket"},
             {"Ticket expired", 1, "no valid Kerberos ticket"},
             {"tree connect failed: NT_STATUS_BAD_NETWORK_NAME", 1, "share not found: \\\\files\\homes$"},
             {"Failed to open j.doe: NT_STATUS_OBJECT_NAME_NOT_FOUND", 1, "folder not found: " + folder},
             {"Failed to open j.doe: NT_STATUS_ACCESS_DENIED", 1, "access denied on " + folder},
             {"cli_full_connection failed! (NT_STATUS_CONNECTION_REFUSED)", 1, "cannot reach the server \"files\""},
             {"smbcacls: unknown option '--propagate-inheritance'", 1, "this smbcacls lacks an option"},
             {"something else entirely", 3, "smbcacls failed with exit status 3 on " + folder},
             {"", -1, "smbcacls was killed on " + folder}}) {
        cacls::ChildResult run;
        run.started = true;
        run.exitCode = row.exitCode;
        run.err = row.err;
        const std::string text = cacls::explainSmbcaclsFailure(run, path, folder);
        EXPECT_EQ(text.rfind(row.starts, 0), 0u) << row.err << " -> " << text;
        EXPECT_NE(text.find("[smbcacls: " + row.err), std::string::npos) << "the tool's own words are kept: " << text;
    }
}
