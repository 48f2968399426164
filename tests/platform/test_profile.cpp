// The settings file with the Windows profile-function semantics.
#include "platform/Gbk.h"
#include "platform/Profile.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

using namespace lianbu;
using lianbu::test::Environment;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestProfile : public QObject
{
    Q_OBJECT

private slots:
    void missingFileIsCreatedWithCrLf();
    void missingFolderFailsAndCreatesNothing();
    void readsMissingThingsAsTheDefault();
    void namesMatchWithoutRegardToCase();
    void replacesAKeyInPlace();
    void appendsANewKeyAfterTheSectionsLastKey();
    void appendsANewSectionAtTheEnd();
    void readsLfOnlyFilesAndWritesCrLf();
    void trimsValuesAndStripsQuotes();
    void commentsAndLinesOutsideSections();
    void storesTextAsGbkAndKeepsOtherBytes();
    void refusesWhatCannotBeStoredOnOneLine();
    void unreadableFileIsNeverReplaced();
    void aFullDiskKeepsTheSettings();
    void deletesKeysAndErasesSections();
    void listsKeys();
};

void TestProfile::missingFileIsCreatedWithCrLf()
{
    Environment env;
    const QString file = env.filePath("lianbu.ini");
    QVERIFY(writeProfileString(file, "lianbugrid", "Columns", "14"));
    QCOMPARE(readAll(file), QByteArray("[lianbugrid]\r\nColumns=14\r\n"));
    QCOMPARE(profileString(file, "lianbugrid", "Columns"), QStringLiteral("14"));
    // No temporary file is left next to it.
    QCOMPARE(QDir(env.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"lianbu.ini"});
}

void TestProfile::missingFolderFailsAndCreatesNothing()
{
    Environment env;
    const QString file = env.filePath("no/such/folder/lianbu.ini");
    QVERIFY(!writeProfileString(file, "s", "k", "v"));
    QVERIFY(!QFileInfo::exists(env.filePath("no")));
    QCOMPARE(profileString(file, "s", "k", "dflt"), QStringLiteral("dflt"));
    // A folder in place of the file is not a file either.
    QDir(env.path()).mkdir("dir.ini");
    QVERIFY(!writeProfileString(env.filePath("dir.ini"), "s", "k", "v"));
    QVERIFY(QFileInfo(env.filePath("dir.ini")).isDir());
}

void TestProfile::readsMissingThingsAsTheDefault()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    QCOMPARE(profileString(file, "s", "k"), QString());
    QCOMPARE(profileString(file, "s", "k", "x"), QStringLiteral("x"));
    QCOMPARE(profileString(file, "s", "k", "x  "), QStringLiteral("x")); // trailing blanks go
    writeAll(file, "[s]\r\nk=\r\nother=1\r\n");
    QCOMPARE(profileString(file, "s", "k", "x"), QString()); // present but empty: not the default
    QCOMPARE(profileString(file, "s", "missing", "x"), QStringLiteral("x"));
    QCOMPARE(profileString(file, "t", "k", "x"), QStringLiteral("x"));
}

void TestProfile::namesMatchWithoutRegardToCase()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[LianbuGrid]\r\nColumn0Width=64\r\n");
    QCOMPARE(profileString(file, "lianbugrid", "COLUMN0WIDTH"), QStringLiteral("64"));
    QCOMPARE(profileString(file, " lianbugrid ", " column0width "), QStringLiteral("64"));
    QVERIFY(writeProfileString(file, "LIANBUGRID", "column0width", "80"));
    // Same line, the file's own spelling of section and key kept.
    QCOMPARE(readAll(file), QByteArray("[LianbuGrid]\r\nColumn0Width=80\r\n"));
}

void TestProfile::replacesAKeyInPlace()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "; layout\r\n[a]\r\nx=1\r\ny=2\r\nz=3\r\n\r\n[b]\r\ny=20\r\n");
    QVERIFY(writeProfileString(file, "a", "y", "two"));
    QVERIFY(writeProfileString(file, "b", "y", "twenty"));
    QCOMPARE(readAll(file), QByteArray("; layout\r\n[a]\r\nx=1\r\ny=two\r\nz=3\r\n\r\n[b]\r\ny=twenty\r\n"));
    QCOMPARE(profileString(file, "a", "y"), QStringLiteral("two"));
    QCOMPARE(profileString(file, "b", "y"), QStringLiteral("twenty"));
}

void TestProfile::appendsANewKeyAfterTheSectionsLastKey()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[a]\r\nx=1\r\n\r\n[b]\r\nq=1\r\n");
    QVERIFY(writeProfileString(file, "a", "w", "new"));
    // After the last key, before the blank line that separates the sections.
    QCOMPARE(readAll(file), QByteArray("[a]\r\nx=1\r\nw=new\r\n\r\n[b]\r\nq=1\r\n"));
    QVERIFY(writeProfileString(file, "b", "r", "2"));
    QCOMPARE(readAll(file), QByteArray("[a]\r\nx=1\r\nw=new\r\n\r\n[b]\r\nq=1\r\nr=2\r\n"));

    // A section without keys gets its first key right under the header.
    writeAll(file, "[empty]\r\n\r\n[b]\r\n");
    QVERIFY(writeProfileString(file, "empty", "k", "v"));
    QCOMPARE(readAll(file), QByteArray("[empty]\r\nk=v\r\n\r\n[b]\r\n"));
}

void TestProfile::appendsANewSectionAtTheEnd()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[a]\r\nx=1"); // no line end after the last line
    QVERIFY(writeProfileString(file, "lianbugrid", "k", "v"));
    QCOMPARE(readAll(file), QByteArray("[a]\r\nx=1\r\n[lianbugrid]\r\nk=v\r\n"));
    QCOMPARE(profileString(file, "a", "x"), QStringLiteral("1"));
    QCOMPARE(profileString(file, "lianbugrid", "k"), QStringLiteral("v"));
    // An existing empty file.
    writeAll(file, "");
    QVERIFY(writeProfileString(file, "s", "k", "v"));
    QCOMPARE(readAll(file), QByteArray("[s]\r\nk=v\r\n"));
}

void TestProfile::readsLfOnlyFilesAndWritesCrLf()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[a]\nx=1\ny=2\n");
    QCOMPARE(profileString(file, "a", "y"), QStringLiteral("2"));
    QVERIFY(writeProfileString(file, "a", "x", "9"));
    QCOMPARE(readAll(file), QByteArray("[a]\r\nx=9\r\ny=2\r\n"));
    writeAll(file, "[a]\r\nx=1\ny=2\r\n"); // mixed
    QCOMPARE(profileString(file, "a", "x"), QStringLiteral("1"));
    QCOMPARE(profileString(file, "a", "y"), QStringLiteral("2"));
}

void TestProfile::trimsValuesAndStripsQuotes()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "  [ a ]  \r\n  key one  =  some value \t\r\nq=\"  quoted \"\r\n"
                   "s='x'\r\nhalf=\"x\r\neq=a=b\r\n");
    QCOMPARE(profileString(file, "a", "key one"), QStringLiteral("some value"));
    QCOMPARE(profileString(file, "a", "q"), QStringLiteral("  quoted "));
    QCOMPARE(profileString(file, "a", "s"), QStringLiteral("x"));
    QCOMPARE(profileString(file, "a", "half"), QStringLiteral("\"x"));
    QCOMPARE(profileString(file, "a", "eq"), QStringLiteral("a=b"));
    // Written values keep their blanks in the file; reading trims them.
    QVERIFY(writeProfileString(file, "a", "w", "  v  "));
    QVERIFY(readAll(file).endsWith("w=  v  \r\n"));
    QCOMPARE(profileString(file, "a", "w"), QStringLiteral("v"));
}

void TestProfile::commentsAndLinesOutsideSections()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "k=outside\r\n[a]\r\n;k=commented\r\n  ; x=1\r\nk=inside\r\nbare\r\n");
    QCOMPARE(profileString(file, "a", "k"), QStringLiteral("inside"));
    QCOMPARE(profileString(file, "a", ";k", "d"), QStringLiteral("d"));
    QCOMPARE(profileString(file, "a", "bare", "d"), QString()); // a key without a value
    QVERIFY(writeProfileString(file, "a", "k", "new"));
    QCOMPARE(readAll(file), QByteArray("k=outside\r\n[a]\r\n;k=commented\r\n  ; x=1\r\nk=new\r\nbare\r\n"));
    // Duplicate sections: the first key found wins, and the write goes where the read looks.
    writeAll(file, "[a]\r\nx=1\r\n[b]\r\n[A]\r\nx=2\r\ny=3\r\n");
    QCOMPARE(profileString(file, "a", "x"), QStringLiteral("1"));
    QCOMPARE(profileString(file, "a", "y"), QStringLiteral("3"));
    QVERIFY(writeProfileString(file, "a", "y", "4"));
    QCOMPARE(profileString(file, "a", "y"), QStringLiteral("4"));
}

void TestProfile::storesTextAsGbkAndKeepsOtherBytes()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    QVERIFY(writeProfileString(file, "网格", "标题", "客户名称"));
    QCOMPARE(readAll(file), gbk::encode("[网格]\r\n标题=客户名称\r\n"));
    QCOMPARE(profileString(file, "网格", "标题"), QStringLiteral("客户名称"));
    // A character GBK cannot hold is stored as "?".
    QVERIFY(writeProfileString(file, "网格", "e", "a😀"));
    QCOMPARE(profileString(file, "网格", "e"), QStringLiteral("a?"));

    // Bytes of lines this write does not touch stay exactly as they were, even when they are
    // not valid GBK.
    QByteArray odd("[x]\r\nraw=\xFF\xFE\x81\r\n[y]\r\nk=1\r\n");
    writeAll(file, odd);
    QVERIFY(writeProfileString(file, "y", "k", "2"));
    QCOMPARE(readAll(file), QByteArray("[x]\r\nraw=\xFF\xFE\x81\r\n[y]\r\nk=2\r\n"));
}

void TestProfile::refusesWhatCannotBeStoredOnOneLine()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[a]\r\nk=1\r\n");
    QVERIFY(!writeProfileString(file, "a", "k", "1\r\n[evil]\r\nx=2"));
    QVERIFY(!writeProfileString(file, "a]", "k", "v"));
    QVERIFY(!writeProfileString(file, "a", "k=x", "v"));
    QVERIFY(!writeProfileString(file, "a", "", "v"));
    QVERIFY(!writeProfileString(file, "  ", "k", "v"));
    QVERIFY(!writeProfileString(file, "a", "[k", "v"));
    QVERIFY(!writeProfileString(file, "a", ";k", "v"));
    QVERIFY(!writeProfileString(file, "a\nb", "k", "v"));
    QCOMPARE(readAll(file), QByteArray("[a]\r\nk=1\r\n"));
}

void TestProfile::unreadableFileIsNeverReplaced()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[a]\r\nk=1\r\n");
    QFile::setPermissions(file, QFileDevice::WriteOwner);
    if (QFile(file).open(QIODevice::ReadOnly))
        QSKIP("running with rights that read any file");
    QVERIFY(!writeProfileString(file, "a", "j", "2"));
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(readAll(file), QByteArray("[a]\r\nk=1\r\n"));
}

void TestProfile::aFullDiskKeepsTheSettings()
{
    Environment env;
    const QString file = env.filePath("lianbu.ini");
    writeAll(file, "[lianbugrid]\r\nk=1\r\n");
    {
        // A value that makes the file larger than the disk takes.
        lianbu::test::FileSizeLimit full(1024);
        QVERIFY(full.isValid());
        QVERIFY(!writeProfileString(file, "lianbugrid", "long", QString(2000, QLatin1Char('w'))));
    }
    QCOMPARE(readAll(file), QByteArray("[lianbugrid]\r\nk=1\r\n"));
    QCOMPARE(QDir(env.path()).entryList(QDir::Files | QDir::Hidden).size(), qsizetype(1));
}

void TestProfile::deletesKeysAndErasesSections()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[a]\r\nx=1\r\ny=2\r\n\r\n[lianbugrid]\r\nc=1\r\n; note\r\n\r\n[b]\r\nz=3\r\n");
    QVERIFY(deleteProfileKey(file, "A", "X"));
    QVERIFY(eraseProfileSection(file, "LIANBUGRID"));
    QCOMPARE(readAll(file), QByteArray("[a]\r\ny=2\r\n\r\n[b]\r\nz=3\r\n"));
    QVERIFY(eraseProfileSection(file, "none"));
    QVERIFY(deleteProfileKey(file, "a", "none"));
    QVERIFY(eraseProfileSection(env.filePath("missing.ini"), "a"));
    QVERIFY(!QFileInfo::exists(env.filePath("missing.ini")));
}

void TestProfile::listsKeys()
{
    Environment env;
    const QString file = env.filePath("a.ini");
    writeAll(file, "[a]\r\nb=1\r\n;c=2\r\nA=3\r\nd=4\r\n[x]\r\ne=5\r\n");
    QCOMPARE(profileKeys(file, "a"), (QStringList{"b", "A", "d"}));
    QCOMPARE(profileKeys(file, "missing"), QStringList());
}

QTEST_GUILESS_MAIN(TestProfile)
#include "test_profile.moc"
