#include "cacls/SmbGrant.h"

#include <gtest/gtest.h>

using namespace cacls;

// smbcacls 4.17's own texts for each failure, as seen against a Samba DC.
TEST(CaclsSmbGrant, explainsEachFailureByWhatTheOperatorMustFix)
{
    struct Case {
        const char* out;
        const char* err;
        const char* starts;
    };
    const Case cases[] = {
        {"ACE 'SCHOOL\\nosuchuser:ALLOWED/OI|CI/FULL': failed to convert 'SCHOOL\\nosuchuser' to SID\n"
         "error: NT_STATUS_UNSUCCESSFUL processing \\jbloggs\n",
         "", "unknown account \"SCHOOL\\nosuchuser\""},
        {"Failed to open \\x: NT_STATUS_OBJECT_NAME_NOT_FOUND\nerror: NT_STATUS_NO_MEMORY processing \\x\n", "",
         R"(folder not found: \\dc1.school.local\homes$\Year 7\jbloggs)"},
        {"error: NT_STATUS_NO_MEMORY processing \\x\n", "Failed to open \\x: NT_STATUS_ACCESS_DENIED\n",
         "access denied on"},
        {"", "cli_full_connection failed! (NT_STATUS_BAD_NETWORK_NAME)\n",
         R"(share not found: \\dc1.school.local\homes$)"},
        {"",
         "gensec_spnego_client_negTokenInit_step: Could not find a suitable mechtype in NEG_TOKEN_INIT\n"
         "cli_full_connection failed! (NT_STATUS_INVALID_PARAMETER)\n",
         "no valid Kerberos ticket"},
        {"something new\n", "", "smbcacls failed"},
    };
    const UncPath home{"dc1.school.local", "homes$", "Year 7/jbloggs"};
    for (const Case& c : cases) {
        const std::string message =
            explainSmbcaclsFailure({true, 0, 1, c.out, c.err}, home, R"(\\dc1.school.local\homes$\Year 7\jbloggs)");
        EXPECT_EQ(message.rfind(c.starts, 0), 0u) << message;
        EXPECT_EQ(message.find("NO_MEMORY"), std::string::npos) << "misleading detail kept: " << message;
    }
}
