#include "cacls/SmbGrant.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

using namespace cacls;

namespace {

const UncPath home{"dc1.school.local", "homes$", "Year 7/jbloggs"};

ChildResult failed(int exitCode, std::string out, std::string err)
{
    return {true, 0, exitCode, std::move(out), std::move(err)};
}

std::string explain(const ChildResult& run)
{
    return explainSmbcaclsFailure(run, home, R"(\\dc1.school.local\homes$\Year 7\jbloggs)");
}

} // namespace

TEST(CaclsSmbGrant, passesEveryAccountInOneCallAfterTheEndOfOptions)
{
    const auto args = smbcaclsArguments(home, {"jbloggs", "SCHOOL\\School Admins"}, "");
    const std::vector<std::string> expected{
        "smbcacls",
        "--use-kerberos=required",
        "-N",
        "--set-security-info=4",
        "--propagate-inheritance",
        "-a",
        "ACL:jbloggs:ALLOWED/OI|CI/FULL,ACL:SCHOOL\\School Admins:ALLOWED/OI|CI/FULL",
        "--",
        "//dc1.school.local/homes$",
        "Year 7/jbloggs"};
    EXPECT_EQ(args, expected);
    const auto withConf = smbcaclsArguments({"fs01", "homes$", ""}, {"jbloggs"}, "/tmp/client/smb.conf");
    ASSERT_GE(withConf.size(), 3u);
    EXPECT_EQ(withConf[1], "-s");
    EXPECT_EQ(withConf[2], "/tmp/client/smb.conf");
    EXPECT_EQ(withConf.back(), ""); // the share's own folder
}

TEST(CaclsSmbGrant, refusesAccountsThatWouldBreakTheEntrySyntax)
{
    EXPECT_EQ(checkSmbAccount("SCHOOL\\School Admins"), "");
    EXPECT_EQ(checkSmbAccount("jbloggs@school.local"), "");
    EXPECT_NE(checkSmbAccount("a,ACL:Everyone"), "");
    EXPECT_NE(checkSmbAccount("odd:name"), "");
}

// smbcacls 4.17's own texts for each failure, as seen against a Samba DC.
TEST(CaclsSmbGrant, explainsEachFailureByWhatTheOperatorMustFix)
{
    EXPECT_EQ(
        explain(failed(1,
                       "ACE 'SCHOOL\\nosuchuser:ALLOWED/OI|CI/FULL': failed to convert 'SCHOOL\\nosuchuser' to SID\n"
                       "error: NT_STATUS_UNSUCCESSFUL processing \\jbloggs\n",
                       ""))
            .rfind("unknown account \"SCHOOL\\nosuchuser\"", 0),
        0u);
    const std::string missing = explain(failed(1,
                                               "Failed to open \\nosuchfolder: NT_STATUS_OBJECT_NAME_NOT_FOUND\n"
                                               "Failed to open \\nosuchfolder: NT_STATUS_OBJECT_NAME_NOT_FOUND\n"
                                               "error: NT_STATUS_NO_MEMORY processing \\nosuchfolder\n",
                                               ""));
    EXPECT_EQ(missing.rfind(R"(folder not found: \\dc1.school.local\homes$\Year 7\jbloggs)", 0), 0u) << missing;
    EXPECT_EQ(missing.find("NO_MEMORY"), std::string::npos) << "misleading detail kept: " << missing;

    const std::string denied = explain(failed(1,
                                              "Failed to open \\asmith: NT_STATUS_ACCESS_DENIED\n"
                                              "error: NT_STATUS_NO_MEMORY processing \\asmith\n",
                                              "Failed to open \\asmith: NT_STATUS_ACCESS_DENIED\n"));
    EXPECT_EQ(denied.rfind("access denied on", 0), 0u) << denied;

    EXPECT_EQ(explain(failed(1, "", "cli_full_connection failed! (NT_STATUS_BAD_NETWORK_NAME)\n"))
                  .rfind(R"(share not found: \\dc1.school.local\homes$)", 0),
              0u);
    EXPECT_EQ(
        explain(failed(1, "",
                       "gensec_spnego_client_negTokenInit_step: Could not find a suitable mechtype in NEG_TOKEN_INIT\n"
                       "cli_full_connection failed! (NT_STATUS_INVALID_PARAMETER)\n"))
            .rfind("no valid Kerberos ticket", 0),
        0u);
    EXPECT_EQ(explain(failed(1, "", "cli_full_connection failed! (NT_STATUS_CONNECTION_REFUSED)\n"))
                  .rfind("cannot reach the server \"dc1.school.local\"", 0),
              0u);
    EXPECT_EQ(explain(failed(1, "", "cli_full_connection failed! (NT_STATUS_UNSUCCESSFUL)\n"))
                  .rfind("cannot reach the server", 0),
              0u);
    const std::string other = explain(failed(3, "something new\n", ""));
    EXPECT_NE(other.find("exit status 3"), std::string::npos) << other;
    EXPECT_NE(other.find("something new"), std::string::npos) << other;
}

TEST(CaclsSmbGrant, toolRefusesAServerGivenByAddressBeforeConnecting)
{
    const ToolRun run = runCacls({R"(\\127.0.0.1\homes$\jbloggs)", "/e", "/g", "jbloggs:F"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("given as an address")) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
}

TEST(CaclsSmbGrant, toolReportsAMissingTicketWithoutPrompting)
{
    ToolOptions options;
    options.env.insert("KRB5CCNAME", "FILE:/nonexistent/corvane-no-ticket");
    const ToolRun run = runCacls({R"(\\fs01.school.local\homes$\jbloggs)", "/e", "/g", "jbloggs:F"}, options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no valid Kerberos ticket")) << run.err.toStdString();
}

TEST(CaclsSmbGrant, toolRejectsMalformedNetworkPathsAsUsageErrors)
{
    const ToolRun run = runCacls({R"(\\fs01)", "/e", "/g", "jbloggs:F"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("\\\\server\\share\\folder")) << run.err.toStdString();
}
