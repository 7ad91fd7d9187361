#include "settings/modINI.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class IniFile : public ::testing::Test {
protected:
    QString path() const { return m_dir.path() + "/settings/corvane.ini"; }
    void SetUp() override { ASSERT_TRUE(QDir(m_dir.path()).mkdir("settings")); }
    void put(const QByteArray& bytes)
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray bytes() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QString read(const QString& key) const { return modINI::ReadINI("SETTINGS", key, path()); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(IniFile, readsEmptyWhenFileSectionOrKeyIsMissing)
{
    EXPECT_EQ(read("AdmGrp"), "");
    put("[OTHER]\nAdmGrp=elsewhere\n");
    EXPECT_EQ(read("AdmGrp"), "");
    put("[SETTINGS]\nUserPath=/srv/home/\n");
    EXPECT_EQ(read("AdmGrp"), "");
    EXPECT_EQ(read("UserPath"), "/srv/home/");
    EXPECT_TRUE(read("AdmGrp").isEmpty());
}

TEST_F(IniFile, firstWritesCreateTheFileWithKeysInTheOrderWritten)
{
    ASSERT_FALSE(QFile::exists(path()));
    EXPECT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", "Domain Admins", path()));
    EXPECT_TRUE(modINI::WriteINI("SETTINGS", "UserPath", "\\\\fs1\\home$\\", path()));
    EXPECT_EQ(bytes(), QByteArray("[SETTINGS]\nAdmGrp=Domain Admins\nUserPath=\\\\fs1\\home$\\\n"));
    EXPECT_EQ(read("AdmGrp"), "Domain Admins");
    EXPECT_EQ(read("UserPath"), "\\\\fs1\\home$\\");
}

TEST_F(IniFile, namesMatchWithoutRegardToCase)
{
    put("[settings]\nadmgrp=staff-admins\nUSERPATH = /srv/users/\n");
    EXPECT_EQ(read("AdmGrp"), "staff-admins");
    EXPECT_EQ(read("UserPath"), "/srv/users/");
    EXPECT_EQ(modINI::ReadINI("Settings", "ADMGRP", path()), "staff-admins");

    // A write finds the lower-case key and replaces it instead of adding a second one.
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", "new-admins", path()));
    EXPECT_EQ(bytes(), QByteArray("[settings]\nadmgrp=new-admins\nUSERPATH = /srv/users/\n"));
}

TEST_F(IniFile, dropsOnlyQuotesThatEncloseTheWholeValue)
{
    put("[SETTINGS]\nA=\"quoted value\"\nB='single'\nC=\"unbalanced\nD=say \"hi\" there\nE=\"\"\nF=\"a\" and \"b\"\n");
    EXPECT_EQ(read("A"), "quoted value");
    EXPECT_EQ(read("B"), "single");
    EXPECT_EQ(read("C"), "\"unbalanced");
    EXPECT_EQ(read("D"), "say \"hi\" there");
    EXPECT_EQ(read("E"), "");
    // Only the outer pair goes, as the classic reader does.
    EXPECT_EQ(read("F"), "a\" and \"b");
}

TEST_F(IniFile, readsBackAtMost254Characters)
{
    const QString v254(254, 'x');
    const QString v255 = QString(254, 'y') + "Z";
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", v254, path()));
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "UserPath", v255, path()));
    EXPECT_EQ(read("AdmGrp"), v254);
    EXPECT_EQ(read("UserPath"), QString(254, 'y'));
    // The file itself holds the whole value: only the read is cut.
    EXPECT_TRUE(bytes().contains(v255.toUtf8()));
}

TEST_F(IniFile, valuesAreStoredExactlyAsGiven)
{
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "UserPath", "/srv/home", path()));
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", "a=b;c #d", path()));
    EXPECT_EQ(read("UserPath"), "/srv/home");
    EXPECT_EQ(read("AdmGrp"), "a=b;c #d");
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", QString::fromUtf8("Schüler-Admins"), path()));
    EXPECT_EQ(read("AdmGrp"), QString::fromUtf8("Schüler-Admins"));
}

TEST_F(IniFile, replacingAValueKeepsEveryOtherLineByteForByte)
{
    const QByteArray before = "; written by hand\r\n"
                              "[General]\r\n"
                              "AdmGrp=not this one\r\n"
                              "\r\n"
                              "[SETTINGS]\r\n"
                              "  AdmGrp =  old group  \r\n"
                              "this line means nothing to the store\r\n"
                              "UserPath=/srv/home/\r\n"
                              "\r\n"
                              "[Later]\r\n"
                              "x=1"; // no line end at the end of the file
    put(before);
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", "new group", path()));
    QByteArray expected = before;
    expected.replace("  AdmGrp =  old group  \r\n", "AdmGrp=new group\r\n");
    EXPECT_EQ(bytes(), expected);
    EXPECT_EQ(modINI::ReadINI("General", "AdmGrp", path()), "not this one");
    EXPECT_EQ(read("AdmGrp"), "new group");
}

TEST_F(IniFile, newKeyGoesAtTheEndOfItsSectionAndNewSectionAtTheEnd)
{
    put("[SETTINGS]\nAdmGrp=g\n\n[Later]\nx=1");
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "UserPath", "/p/", path()));
    EXPECT_EQ(bytes(), QByteArray("[SETTINGS]\nAdmGrp=g\nUserPath=/p/\n\n[Later]\nx=1"));
    ASSERT_TRUE(modINI::WriteINI("Extra", "k", "v", path()));
    EXPECT_EQ(bytes(), QByteArray("[SETTINGS]\nAdmGrp=g\nUserPath=/p/\n\n[Later]\nx=1\n[Extra]\nk=v\n"));
    EXPECT_EQ(modINI::ReadINI("Later", "x", path()), "1");
}

TEST_F(IniFile, writeFailsWithoutCreatingAMissingSettingsFolder)
{
    const QString missing = m_dir.path() + "/nowhere/corvane.ini";
    EXPECT_FALSE(modINI::WriteINI("SETTINGS", "AdmGrp", "g", missing));
    EXPECT_FALSE(modINI::LastWriteError().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(m_dir.path() + "/nowhere"));
    EXPECT_EQ(modINI::ReadINI("SETTINGS", "AdmGrp", missing), "");
}

TEST_F(IniFile, replacesTheFileThroughARenameLeavingNoTemporaryFiles)
{
    put("[SETTINGS]\nAdmGrp=old\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &before), 0);
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", "new", path()));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &after), 0);
    // A new file took the old one's place (never rewritten in place), with the same permissions.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(m_dir.path() + "/settings").entryList(QDir::Files | QDir::Hidden), QStringList{"corvane.ini"});
}

TEST_F(IniFile, writesThroughALinkToTheFileItNames)
{
    const QString real = m_dir.path() + "/real.ini";
    {
        QFile f(real);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[SETTINGS]\nAdmGrp=old\n");
    }
    ASSERT_TRUE(QFile::link(real, path()));
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "AdmGrp", "new", path()));
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(modINI::ReadINI("SETTINGS", "AdmGrp", real), "new");
}

TEST_F(IniFile, refusesNamesAndValuesThatWouldPlantOtherLines)
{
    put("[SETTINGS]\nAdmGrp=g\n");
    const QByteArray before = bytes();
    EXPECT_FALSE(modINI::WriteINI("SETTINGS", "AdmGrp", "g\nUserPath=/evil/", path()));
    EXPECT_FALSE(modINI::WriteINI("SETTINGS", "AdmGrp", "g\r[Other]", path()));
    EXPECT_FALSE(modINI::WriteINI("SETTINGS", "Adm=Grp", "v", path()));
    EXPECT_FALSE(modINI::WriteINI("SETTINGS", "", "v", path()));
    EXPECT_FALSE(modINI::WriteINI("SET]TINGS", "AdmGrp", "v", path()));
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(read("UserPath"), "");
}

TEST_F(IniFile, onlyTheFirstSectionOfANameCounts)
{
    put("[SETTINGS]\nAdmGrp=first\n[SETTINGS]\nAdmGrp=second\nUserPath=/second/\n");
    EXPECT_EQ(read("AdmGrp"), "first");
    EXPECT_EQ(read("UserPath"), "");
    ASSERT_TRUE(modINI::WriteINI("SETTINGS", "UserPath", "/p/", path()));
    EXPECT_EQ(bytes(), QByteArray("[SETTINGS]\nAdmGrp=first\nUserPath=/p/\n[SETTINGS]\nAdmGrp=second\n"
                                  "UserPath=/second/\n"));
}
