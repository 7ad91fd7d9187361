#include "directory_update/HomePathUpdate.h"
#include "TempAppFolder.h"

#include <gtest/gtest.h>

// The day's log is named afresh for every line, so a run that crosses midnight
// writes its later lines to the next day's log.
TEST(HomePathUpdate, namesTheDaysLogWithoutLeadingZeros)
{
    EXPECT_EQ(HomePathUpdate::LogName(QDate(2027, 1, 1)), "LDAP_1_1_2027");
    EXPECT_EQ(HomePathUpdate::LogName(QDate(2026, 12, 31)), "LDAP_31_12_2026");
}

TEST(HomePathUpdate, undoFileHoldsEveryChangeAsSoonAsItIsMadeAndIsNeverShared)
{
    TempAppFolder app;
    const QDateTime started(QDate(2026, 12, 5), QTime(6, 4, 18));
    HomePathUpdate::UndoFile undo(started);
    ASSERT_TRUE(undo.append("CN=Amy Adams,OU=Year7,DC=school,DC=local", "y7.adams", "\\\\old\\h$\\y7.adams",
                            "\\\\new\\h \"x\"\\y7.adams"));
    EXPECT_EQ(QString::fromUtf8(app.readFile("logs/LDAP_undo_20261205_060418.csv")),
              "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory\r\n"
              "\"CN=Amy Adams,OU=Year7,DC=school,DC=local\",y7.adams,\\\\old\\h$\\y7.adams,"
              "\"\\\\new\\h \"\"x\"\"\\y7.adams\"\r\n");
    HomePathUpdate::UndoFile second(started); // a second run in the same second
    ASSERT_TRUE(second.isOpen());
    EXPECT_NE(second.fileName(), undo.fileName());
}
