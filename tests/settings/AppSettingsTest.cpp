#include "settings/AppSettings.h"
#include "TempAppFolder.h"

#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>

#include <gtest/gtest.h>

// The settings live in settings/corvane.ini of the application folder, in the
// format other programs and administrators edit by hand.
TEST(AppSettings, roundTripsThroughTheProgramsFileWithTheKeysOtherProgramsRead)
{
    TempAppFolder app;
    EXPECT_EQ(AppSettings::file(), app.iniFile());
    const AppSettings missing = AppSettings::load(); // no file yet
    EXPECT_EQ(missing.adminGroup, "");
    EXPECT_EQ(missing.userPath, "");

    const AppSettings saved{"Domain Admins", "\\\\fs1\\home$\\", {}};
    ASSERT_TRUE(saved.save());
    EXPECT_EQ(app.readFile("settings/corvane.ini"),
              QByteArray("[SETTINGS]\nAdmGrp=Domain Admins\nUserPath=\\\\fs1\\home$\\\n"));
    const AppSettings loaded = AppSettings::load();
    EXPECT_EQ(loaded.adminGroup, saved.adminGroup);
    EXPECT_EQ(loaded.userPath, saved.userPath);
}

TEST(AppSettings, aRefusedSaveWritesNeitherValueAndSaysWhy)
{
    TempAppFolder app;
    const QByteArray before = "[SETTINGS]\nAdmGrp=old\nUserPath=/old/\n";
    ASSERT_TRUE(app.writeFile("settings/corvane.ini", before));

    // The path cannot be read back whole: the group, which could, is not written either.
    QString why;
    EXPECT_FALSE((AppSettings{"new", QString(255, 'p'), {}}.save(&why)));
    EXPECT_EQ(why, "The value of UserPath is 255 characters long; a setting can hold at most 254.");
    EXPECT_EQ(app.readFile("settings/corvane.ini"), before);
    why.clear();
    EXPECT_FALSE((AppSettings{QString(300, 'g'), "/new/", {}}.save(&why)));
    EXPECT_TRUE(why.startsWith("The value of AdmGrp is 300 characters long")) << why.toStdString();
    EXPECT_EQ(app.readFile("settings/corvane.ini"), before);
    // A disk that fills up: the group alone would fit, both do not. Neither is saved.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small{100, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool full = AppSettings{"newgroup", "/" + QString(200, 'p') + "/", {}}.save();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(full);
    EXPECT_EQ(app.readFile("settings/corvane.ini"), before);
    EXPECT_TRUE((AppSettings{QString(254, 'g'), QString(254, 'p'), {}}.save()));

    // The store's own refusals pass up too (each of them: the INI store's tests).
    const QString nowhere = app.path() + "/nowhere/corvane.ini";
    why.clear();
    EXPECT_FALSE((AppSettings{"g", "/p/", {}}.save(nowhere, &why)));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    EXPECT_EQ(AppSettings::load(nowhere).userPath, "");
}
