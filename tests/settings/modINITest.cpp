#include "settings/modINI.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class IniFile : public ::testing::Test {
protected:
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
    QString path = dir.path() + "/corvane.ini";
};

} // namespace

TEST_F(IniFile, readsTheFirstSectionIgnoringCaseAndCutsAt254)
{
    EXPECT_EQ(read("AdmGrp"), "");
    put("[OTHER]\nAdmGrp=elsewhere\n[settings]\nadmgrp=first\n[SETTINGS]\nUserPath=/second/\n");
    EXPECT_EQ(read("AdmGrp"), "first");
    EXPECT_EQ(read("UserPath"), ""); // only the first section of a name counts
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(write("AdmGrp", "a=b;c #d"));
    EXPECT_TRUE(write("UserPath", "\\\\fs1\\home$\\"));
    EXPECT_EQ(bytes(), QByteArray("[SETTINGS]\nAdmGrp=a=b;c #d\nUserPath=\\\\fs1\\home$\\\n"));
    EXPECT_EQ(read("AdmGrp"), "a=b;c #d");

    const QString v255 = QString(254, 'y') + "Z";
    ASSERT_TRUE(write("UserPath", v255));
    EXPECT_EQ(read("UserPath"), QString(254, 'y'));
    EXPECT_TRUE(bytes().contains(v255.toUtf8())); // only the read is cut
}

TEST_F(IniFile, writingReplacesOnlyItsLineByRenameAndRefusesPlantedLinesAndMissingFolders)
{
    const QByteArray before = "; by hand\r\n[General]\r\nAdmGrp=not this\r\n[settings]\r\n  admgrp =  old  \r\n"
                              "junk line\r\nUserPath=/srv/\r\n\r\n[Later]\r\nx=1";
    put(before);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(write("AdmGrp", "new"));
    QByteArray expected = before;
    EXPECT_EQ(bytes(), expected.replace("  admgrp =  old  \r\n", "admgrp=new\r\n"));
    EXPECT_EQ(modINI::ReadINI("General", "AdmGrp", path), "not this");
    struct stat after {};
    ::stat(QFile::encodeName(path).constData(), &after);
    EXPECT_EQ(after.st_mode & 0777, 0640u); // the replacement keeps the file's permissions
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"corvane.ini"}); // no temp left

    put("[SETTINGS]\nAdmGrp=g\n\n[Later]\nx=1"); // a new key goes to the end of its section
    ASSERT_TRUE(write("UserPath", "/p/"));
    const QByteArray written = bytes();
    EXPECT_EQ(written, QByteArray("[SETTINGS]\nAdmGrp=g\nUserPath=/p/\n\n[Later]\nx=1"));
    for (const QString& value : QStringList{"g\nUserPath=/evil/", "g\rx", QString("g") + QChar(0) + "x"})
        EXPECT_FALSE(write("AdmGrp", value));
    EXPECT_FALSE(write("Adm=Grp", "v"));
    EXPECT_EQ(bytes(), written);

    EXPECT_FALSE(modINI::WriteINI("SETTINGS", "AdmGrp", "g", dir.path() + "/nowhere/corvane.ini"));
    EXPECT_FALSE(modINI::LastWriteError().isEmpty());
}
