#include "settings/modINI.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

    put("[SETTINGS]\nUserPath=" + QByteArray(254, 'y') + "Z\n"); // too long, edited by hand
    EXPECT_EQ(read("UserPath"), QString(254, 'y'));
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

// Files as Windows editors and administrators leave them, and names as callers pass them.
TEST_F(IniFile, readsAndKeepsWhatWindowsEditorsWriteAndTrimsNamesAndRefusesWhatCannotBeReadBack)
{
    const QByteArray bom = "\xEF\xBB\xBF";
    const QString v254(254, 'p'), v255(255, 'p');
    struct Case {
        const char* what;
        QByteArray before;
        QString admGrpBefore; // what a read of AdmGrp gives before the write
        QString section, key, value;
        bool saved;
        QByteArray after;
    };
    const Case cases[] = {
        {"BOM, new key", bom + "[SETTINGS]\r\nAdmGrp=Staff\r\n", "Staff", "SETTINGS", "UserPath", "/srv/", true,
         bom + "[SETTINGS]\r\nAdmGrp=Staff\r\nUserPath=/srv/\r\n"},
        {"BOM, replaced key", bom + "[SETTINGS]\nAdmGrp=Staff\n", "Staff", "SETTINGS", "AdmGrp", "Teachers", true,
         bom + "[SETTINGS]\nAdmGrp=Teachers\n"},
        {"lone CR, replaced key", "[SETTINGS]\rAdmGrp=Staff\rUserPath=/old/\r", "Staff", "SETTINGS", "UserPath",
         "/new/", true, "[SETTINGS]\rAdmGrp=Staff\rUserPath=/new/\r"},
        {"lone CR, new key", "[SETTINGS]\rAdmGrp=Staff", "Staff", "SETTINGS", "UserPath", "/p/", true,
         "[SETTINGS]\rAdmGrp=Staff\rUserPath=/p/\r"},
        {"254 characters", "[SETTINGS]\nAdmGrp=Staff\n", "Staff", "SETTINGS", "UserPath", v254, true,
         "[SETTINGS]\nAdmGrp=Staff\nUserPath=" + v254.toUtf8() + "\n"},
        {"255 characters", "[SETTINGS]\nAdmGrp=Staff\n", "Staff", "SETTINGS", "UserPath", v255, false,
         "[SETTINGS]\nAdmGrp=Staff\n"},
        {"names with spaces", "[SETTINGS]\nAdmGrp=\n", "", " SETTINGS ", " AdmGrp\t", "Staff", true,
         "[SETTINGS]\nAdmGrp=Staff\n"},
    };
    for (const Case& c : cases) {
        put(c.before);
        EXPECT_EQ(read("AdmGrp"), c.admGrpBefore) << c.what;
        EXPECT_EQ(modINI::WriteINI(c.section, c.key, c.value, path), c.saved) << c.what;
        EXPECT_EQ(bytes(), c.after) << c.what;
        if (c.saved)
            EXPECT_EQ(modINI::ReadINI(c.section, c.key, path), c.value) << c.what;
        else
            EXPECT_TRUE(modINI::LastWriteError().contains("254")) << c.what;
    }
}

TEST_F(IniFile, twoWritersAtOnceLoseNoKey)
{
    constexpr int perWriter = 150;
    const auto writer = [this](char name, int* saved) {
        for (int i = 0; i < perWriter; ++i)
            *saved += modINI::WriteINI("SETTINGS", QString("%1%2").arg(name).arg(i), QString::number(i), path);
    };
    int savedA = 0, savedB = 0;
    std::thread a(writer, 'A', &savedA), b(writer, 'B', &savedB);
    a.join();
    b.join();
    EXPECT_EQ(savedA + savedB, 2 * perWriter);
    int lost = 0;
    for (const char name : {'A', 'B'})
        for (int i = 0; i < perWriter; ++i)
            lost += read(QString("%1%2").arg(name).arg(i)) != QString::number(i);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"corvane.ini"});
}

// Someone who can write the settings folder puts a FIFO or a folder where the file
// belongs: a read must not wait for a writer that never comes, nor a save replace it.
TEST_F(IniFile, aFifoOrFolderInPlaceOfTheFileReadsAsEmptyAndIsNotReplaced)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(read("AdmGrp"), "");
    EXPECT_FALSE(write("AdmGrp", "g"));
    EXPECT_TRUE(modINI::LastWriteError().contains("not a regular file")) << modINI::LastWriteError().toStdString();
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    ASSERT_TRUE(QFile::remove(path) && QDir(dir.path()).mkdir("corvane.ini"));
    EXPECT_EQ(read("AdmGrp"), "");
    EXPECT_FALSE(write("AdmGrp", "g"));
    EXPECT_TRUE(QFileInfo(path).isDir());
}

// A settings file far larger than two settings need is refused whole, without
// costing its size in memory: a 1 GiB file (sparse, so it costs no disk either).
TEST_F(IniFile, anOversizedFileIsRefusedWithAReasonAndNeverReadIntoMemory)
{
    put("[SETTINGS]\nUserPath=/srv/homes/\n");
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), qint64(1) << 30), 0);
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(read("UserPath"), "");
    EXPECT_TRUE(modINI::LastReadError().contains("larger than 256 KiB")) << modINI::LastReadError().toStdString();
    EXPECT_FALSE(write("AdmGrp", "g"));
    EXPECT_TRUE(modINI::LastWriteError().contains("larger than 256 KiB")) << modINI::LastWriteError().toStdString();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024)
        << "peak grew by " << after.ru_maxrss - before.ru_maxrss << " KiB";
    EXPECT_EQ(QFileInfo(path).size(), qint64(1) << 30) << "left as it was";

    // At the cap it is still a settings file.
    put("[SETTINGS]\nUserPath=/srv/homes/\n" + QByteArray(modINI::MaxFileSize - 32, '\n'));
    EXPECT_EQ(read("UserPath"), "/srv/homes/");
    EXPECT_EQ(modINI::LastReadError(), "");
}
