#include "settings/modINI.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class IniFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir(dir.path()).mkdir("settings")); }
    void put(const QByteArray& data)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray bytes() const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QString read(const QString& key) const { return modINI::ReadINI("SETTINGS", key, path); }
    bool write(const QString& key, const QString& value) { return modINI::WriteINI("SETTINGS", key, value, path); }
    QTemporaryDir dir;
    QString path = dir.path() + "/settings/corvane.ini";
};

} // namespace

TEST_F(IniFile, readsEmptyForMissingPartsAndCreatesTheFileInWriteOrder)
{
    EXPECT_EQ(read("AdmGrp"), "");
    put("[OTHER]\nAdmGrp=elsewhere\n[SETTINGS]\nAdmGrp=first\n[SETTINGS]\nUserPath=/second/\n");
    EXPECT_EQ(read("AdmGrp"), "first");
    EXPECT_EQ(read("UserPath"), ""); // only the first section of a name counts
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(write("AdmGrp", "a=b;c #d"));
    EXPECT_TRUE(write("UserPath", "\\\\fs1\\home$\\"));
    EXPECT_EQ(bytes(), QByteArray("[SETTINGS]\nAdmGrp=a=b;c #d\nUserPath=\\\\fs1\\home$\\\n"));
    EXPECT_EQ(read("AdmGrp"), "a=b;c #d");
}

TEST_F(IniFile, lowerCaseNamesInTheFileAreFoundAndReplacedInPlace)
{
    put("[settings]\nadmgrp=staff-admins\nUSERPATH = /srv/users/\n");
    EXPECT_EQ(read("AdmGrp"), "staff-admins");
    EXPECT_EQ(read("UserPath"), "/srv/users/");
    ASSERT_TRUE(write("AdmGrp", "new-admins"));
    EXPECT_EQ(bytes(), QByteArray("[settings]\nadmgrp=new-admins\nUSERPATH = /srv/users/\n"));
}

TEST_F(IniFile, dropsOnlyQuotesThatEncloseTheWholeValueAndReadsAtMost254Characters)
{
    put("[SETTINGS]\nA=\"quoted value\"\nB='single'\nC=\"unbalanced\nF=\"a\" and \"b\"\n");
    EXPECT_EQ(read("A"), "quoted value");
    EXPECT_EQ(read("B"), "single");
    EXPECT_EQ(read("C"), "\"unbalanced");
    EXPECT_EQ(read("F"), "a\" and \"b");
    const QString v255 = QString(254, 'y') + "Z";
    ASSERT_TRUE(write("AdmGrp", QString(254, 'x')));
    ASSERT_TRUE(write("UserPath", v255));
    EXPECT_EQ(read("AdmGrp"), QString(254, 'x'));
    EXPECT_EQ(read("UserPath"), QString(254, 'y'));
    EXPECT_TRUE(bytes().contains(v255.toUtf8())); // only the read is cut
}

TEST_F(IniFile, writingKeepsEveryOtherLineAndAddsNewKeysAtTheEndOfTheirSection)
{
    const QByteArray before = "; by hand\r\n[General]\r\nAdmGrp=not this\r\n[SETTINGS]\r\n  AdmGrp =  old  \r\n"
                              "junk line\r\nUserPath=/srv/\r\n\r\n[Later]\r\nx=1";
    put(before);
    ASSERT_TRUE(write("AdmGrp", "new"));
    QByteArray expected = before;
    EXPECT_EQ(bytes(), expected.replace("  AdmGrp =  old  \r\n", "AdmGrp=new\r\n"));
    EXPECT_EQ(modINI::ReadINI("General", "AdmGrp", path), "not this");
    put("[SETTINGS]\nAdmGrp=g\n\n[Later]\nx=1");
    ASSERT_TRUE(write("UserPath", "/p/"));
    EXPECT_EQ(bytes(), QByteArray("[SETTINGS]\nAdmGrp=g\nUserPath=/p/\n\n[Later]\nx=1"));
}

TEST_F(IniFile, replacesTheFileByRenameKeepingPermissionsAndRefusesPlantedLines)
{
    put("[SETTINGS]\nAdmGrp=old\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    ASSERT_TRUE(write("AdmGrp", "new"));
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(dir.path() + "/settings").entryList(QDir::Files | QDir::Hidden), QStringList{"corvane.ini"});
    const QByteArray written = bytes();
    EXPECT_FALSE(write("AdmGrp", "g\nUserPath=/evil/"));
    EXPECT_FALSE(write("Adm=Grp", "v"));
    EXPECT_FALSE(modINI::WriteINI("SET]TINGS", "AdmGrp", "v", path));
    EXPECT_EQ(bytes(), written);
}

TEST_F(IniFile, writeFailsWithoutCreatingAMissingSettingsFolder)
{
    const QString missing = dir.path() + "/nowhere/corvane.ini";
    EXPECT_FALSE(modINI::WriteINI("SETTINGS", "AdmGrp", "g", missing));
    EXPECT_FALSE(modINI::LastWriteError().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/nowhere"));
}
