#include "platform/privateprofile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::DecodeProfileValue;
using platform::EncodeProfileValue;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

void writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray utf16le(const QString &s)
{
    QByteArray out("\xFF\xFE", 2);
    for (QChar c : s) {
        out += char(c.unicode() & 0xFF);
        out += char(c.unicode() >> 8);
    }
    return out;
}

QByteArray utf16be(const QString &s)
{
    QByteArray out("\xFE\xFF", 2);
    for (QChar c : s) {
        out += char(c.unicode() >> 8);
        out += char(c.unicode() & 0xFF);
    }
    return out;
}

class PrivateProfile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("test.ini"));
};

struct ReadCase {
    const char *name;
    QByteArray content;
    const char *section;
    const char *key;
    const char *fallback;
    QString expected;
};

TEST_F(PrivateProfile, ReadFollowsTheRules)
{
    const QByteArray plain = "[TavroLogin]\r\nServer=ALPHA\r\n";
    const ReadCase cases[] = {
        {"exact", plain, "TavroLogin", "Server", "d", "ALPHA"},
        {"names ignore case", plain, "tavrologin", "SERVER", "d", "ALPHA"},
        {"blanks around names and value", "  [ TavroLogin ]  \r\n  Server \t=  ALPHA  \t\r\n",
         "TavroLogin", "Server", "d", "ALPHA"},
        {"double quotes", "[S]\r\nk= \"a b\" \r\n", "S", "k", "", "a b"},
        {"single quotes", "[S]\r\nk='a b'\r\n", "S", "k", "", "a b"},
        {"one pair only", "[S]\r\nk=\"\"a\"\"\r\n", "S", "k", "", "\"a\""},
        {"unmatched quotes kept", "[S]\r\nk=\"a'\r\n", "S", "k", "", "\"a'"},
        {"lone quote kept", "[S]\r\nk=\"\r\n", "S", "k", "", "\""},
        {"equals in value", "[S]\r\nk=a=b\r\n", "S", "k", "", "a=b"},
        {"empty value is not the default", "[S]\r\nk=\r\n", "S", "k", "d", ""},
        {"missing key", plain, "TavroLogin", "Wallpaper", "d", "d"},
        {"missing section", plain, "Other", "Server", "d", "d"},
        {"key of another section", "[A]\r\nk=1\r\n[B]\r\n", "B", "k", "d", "d"},
        {"key before any section", "k=1\r\n[S]\r\n", "S", "k", "d", "d"},
        {"duplicate key: first wins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", "", "1"},
        {"duplicate section: first wins", "[S]\r\nk=1\r\n[s]\r\nk=2\r\nj=3\r\n", "S", "k", "", "1"},
        {"only the first duplicate section counts", "[S]\r\nk=1\r\n[s]\r\nj=3\r\n", "S", "j", "d", "d"},
        // Windows' own rules, where they change what a file means.
        {"no comment syntax: ;k is a key", "[S]\r\n;k=1\r\n", "S", ";k", "d", "1"},
        {"a line without = names a key without a value", "[S]\r\nk\r\nk=2\r\n", "S", "k", "d", "d"},
        {"a lone CR ends a line", "[S]\rk=1\rj=2\r", "S", "j", "", "2"},
        {"a file of CR line ends", "[S]\rk=1", "S", "k", "", "1"},
        {"Ctrl-Z at the end is a blank", "[S]\r\nk=1\x1a", "S", "k", "", "1"},
        {"a [ line without ] is no header: its keys stay above", "[S]\r\nj=0\r\n[T\r\nk=1\r\n", "S", "k", "", "1"},
        {"... and it names no section", "[S]\r\n[T\r\nk=1\r\n", "T", "k", "d", "d"},
        {"a header runs to its last ]", "[Tavro]Login]\r\nk=1\r\n", "Tavro]Login", "k", "d", "1"},
        {"... not to its first", "[Tavro]Login]\r\nk=1\r\n", "Tavro", "k", "d", "d"},
        {"LF line ends", "[S]\nk=1\nj=2\n", "S", "j", "", "2"},
        {"no final line end", "[S]\r\nk=1", "S", "k", "", "1"},
        {"UTF-8 BOM", "\xEF\xBB\xBF[S]\r\nk=\xC3\xA9t\xC3\xA9\r\n", "S", "k", "", QStringLiteral(u"été")},
        {"UTF-16LE BOM", utf16le(QStringLiteral(u"[S]\r\nk=été\r\n")), "S", "k", "", QStringLiteral(u"été")},
        {"UTF-16BE BOM", utf16be(QStringLiteral(u"[S]\nk=été\n")), "S", "k", "", QStringLiteral(u"été")},
        {"garbage bytes around", QByteArray("\x80\xFE\x00\xFF[\r\n", 7) + "[S]\r\n\xC0\xC1=\x01\r\nk=1\r\n",
         "S", "k", "", "1"},
        {"default loses trailing blanks", "", "S", "k", "d  ", "d"},
    };
    for (const ReadCase &c : cases) {
        writeBytes(path, c.content);
        EXPECT_EQ(GetPrivateProfileString(QString::fromUtf8(c.section), QString::fromUtf8(c.key),
                                          QString::fromUtf8(c.fallback), path),
                  c.expected)
            << c.name;
    }
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", dir.filePath("missing.ini")), "d");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", dir.path()), "d") << "a folder is no file";
}

TEST_F(PrivateProfile, LongValuesAreCut)
{
    const QString longValue(5000, u'x');
    // A megabyte-long garbage line before the section must not get in the way.
    writeBytes(path, QByteArray(1 << 20, '\xFE') + "\r\n[S]\r\nk=" + longValue.toUtf8() + "\r\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), QString(2047, u'x'));
    EXPECT_EQ(GetPrivateProfileString("S", "nope", longValue, path).size(), 2047);

    // A cut through a surrogate pair drops its first half rather than return half a character.
    const QString pairs = QString(2046, u'a') + QString::fromUtf8("\xF0\x9F\x98\x80");
    writeBytes(path, utf16le("[S]\r\nk=" + pairs + "\r\n"));
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), QString(2046, u'a'));
}

TEST_F(PrivateProfile, NonAsciiNamesIgnoreCase)
{
    writeBytes(path, utf16le(QStringLiteral(u"[ÄRA]\r\nÖL=1\r\n")));
    EXPECT_EQ(GetPrivateProfileString(QStringLiteral(u"ära"), QStringLiteral(u"öl"), "", path), "1");
}

struct WriteCase {
    const char *name;
    QByteArray before;
    QList<std::pair<const char *, const char *>> writes; // section, key; value = key + "!"
    QByteArray after;
};

TEST_F(PrivateProfile, WritesChangeOnlyWhatTheyMust)
{
    const WriteCase cases[] = {
        {"new file", "<none>", {{"S", "b"}, {"S", "a"}}, "[S]\r\nb=b!\r\na=a!\r\n"},
        {"replace in place keeps order", "[S]\r\nA=1\r\nb=2\r\n", {{"S", "a"}}, "[S]\r\nA=a!\r\nb=2\r\n"},
        {"replace keeps the file's spelling", "[S]\r\n  SeRvEr  =  x  \r\n", {{"s", "server"}},
         "[S]\r\nSeRvEr=server!\r\n"},
        {"new key at the end of its section",
         "[S]\r\na=1\r\n;note\r\n\r\n[T]\r\nz=9\r\n", {{"S", "b"}},
         "[S]\r\na=1\r\n;note\r\nb=b!\r\n\r\n[T]\r\nz=9\r\n"},
        {"new key into an empty last section", "[T]\r\nz=9\r\n[S]", {{"S", "b"}},
         "[T]\r\nz=9\r\n[S]\r\nb=b!\r\n"},
        {"missing section at the end", "top=1\r\n[T]\r\nz=9", {{"S", "b"}},
         "top=1\r\n[T]\r\nz=9\r\n[S]\r\nb=b!\r\n"},
        {"first duplicate key replaced", "[S]\r\nk=1\r\nk=2\r\n", {{"S", "k"}}, "[S]\r\nk=k!\r\nk=2\r\n"},
        {"first duplicate section used", "[S]\r\nk=1\r\n[S]\r\nj=2\r\n", {{"S", "j"}},
         "[S]\r\nk=1\r\nj=j!\r\n[S]\r\nj=2\r\n"},
        {"foreign lines kept byte for byte", QByteArray("\xEF\xBB\xBF[S]\nk=1\n\xC0\xFF junk\n[X]\nq=\x80\n"),
         {{"S", "k"}, {"X", "new"}},
         QByteArray("\xEF\xBB\xBF[S]\nk=k!\r\n\xC0\xFF junk\n[X]\nq=\x80\nnew=new!\r\n")},
        {"UTF-16 stays UTF-16", utf16le(QStringLiteral(u"[S]\nk=é\n")), {{"S", "k"}, {"S", "j"}},
         utf16le(QStringLiteral(u"[S]\nk=k!\r\nj=j!\r\n"))},
        {"a lone CR ends a line: the next line stays", "[S]\rServer=old\rB=2\r", {{"S", "Server"}},
         "[S]\rServer=Server!\r\nB=2\r"},
        {"a key line without = is replaced, not doubled", "[S]\r\nServer\r\nB=2\r\n", {{"S", "Server"}},
         "[S]\r\nServer=Server!\r\nB=2\r\n"},
        {"a [ line without ] keeps its keys in the section above", "[S]\r\n[T\r\nk=1\r\n", {{"S", "k"}},
         "[S]\r\n[T\r\nk=k!\r\n"},
        {"UTF-16BE stays UTF-16BE", utf16be(QStringLiteral(u"[S]\r\n")), {{"S", "k"}},
         utf16be(QStringLiteral(u"[S]\r\nk=k!\r\n"))},
    };
    for (const WriteCase &c : cases) {
        QFile::remove(path);
        if (c.before != "<none>")
            writeBytes(path, c.before);
        for (const auto &[section, key] : c.writes)
            ASSERT_TRUE(WritePrivateProfileString(section, key, QString::fromUtf8(key) + "!", path)) << c.name;
        EXPECT_EQ(readBytes(path), c.after) << c.name;
    }
}

TEST_F(PrivateProfile, EachFileKeepsItsEncoding)
{
    // Not valid UTF-8: Windows-1252, as Windows wrote it. Its C1 bytes, assigned or not, read too.
    const QByteArray ansi = "[TavroLogin]\r\nRemote Message=Caf\xE9 ouvert\r\nServer=OLD\r\n"
                            "; r\xE9sum\xE9\r\nSigns=\x80\x81\x9F\r\n";
    writeBytes(path, ansi);
    EXPECT_EQ(GetPrivateProfileString("TavroLogin", "Remote Message", "", path), QStringLiteral(u"Café ouvert"));
    EXPECT_EQ(GetPrivateProfileString("TavroLogin", "Signs", "", path), QStringLiteral(u"€\u0081Ÿ"));

    // Another key rewritten: every other byte stays, 0xE9 included.
    ASSERT_TRUE(WritePrivateProfileString("TavroLogin", "Server", "NEW", path));
    QByteArray expected = ansi;
    expected.replace("Server=OLD", "Server=NEW");
    EXPECT_EQ(readBytes(path), expected);

    // A value the code page holds is written in it, one byte a character.
    ASSERT_TRUE(WritePrivateProfileString("TavroLogin", "Remote Message", QStringLiteral(u"Crème brûlée €"), path));
    expected.replace("Caf\xE9 ouvert", "Cr\xE8me br\xFBl\xE9" "e \x80");
    EXPECT_EQ(readBytes(path), expected);

    // One it cannot hold is escaped in the value's one-line form and reads back whole.
    const QString polish = QStringLiteral(u"Łódź ☃ 😀 ");
    ASSERT_TRUE(WritePrivateProfileString("TavroLogin", "Remote Message", polish, path));
    expected.replace("Cr\xE8me br\xFBl\xE9" "e \x80", "\\:\\u0141\xF3" "d\\u017a \\u2603 \\ud83d\\ude00\\s");
    EXPECT_EQ(readBytes(path), expected);
    EXPECT_EQ(DecodeProfileValue(GetPrivateProfileString("TavroLogin", "Remote Message", "", path)), polish);
    // Also when the caller's value is already in that form.
    ASSERT_TRUE(WritePrivateProfileString("TavroLogin", "Remote Message", EncodeProfileValue("Ł\nx"), path));
    EXPECT_EQ(DecodeProfileValue(GetPrivateProfileString("TavroLogin", "Remote Message", "", path)), "Ł\nx");

    // A name it cannot hold would not be found again: refused, file untouched.
    const QByteArray before = readBytes(path);
    EXPECT_FALSE(WritePrivateProfileString("TavroLogin", QStringLiteral(u"Ключ"), "v", path));
    EXPECT_FALSE(WritePrivateProfileString(QStringLiteral(u"Секция"), "k", "v", path));
    EXPECT_EQ(readBytes(path), before);

    // UTF-8 stays UTF-8, byte for byte around the change.
    const QByteArray utf8 = "[S]\r\nk=Caf\xC3\xA9\r\nj=1\r\n";
    writeBytes(path, utf8);
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), QStringLiteral(u"Café"));
    ASSERT_TRUE(WritePrivateProfileString("S", "j", QStringLiteral(u"Łódź"), path));
    EXPECT_EQ(readBytes(path), "[S]\r\nk=Caf\xC3\xA9\r\nj=\xC5\x81\xC3\xB3" "d\xC5\xBA\r\n");

    // A new file is UTF-8.
    QFile::remove(path);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", QStringLiteral(u"été"), path));
    EXPECT_EQ(readBytes(path), "[S]\r\nk=\xC3\xA9t\xC3\xA9\r\n");

    // What is not UTF-8: an overlong form, a cut sequence at the end, an encoded surrogate.
    const struct {
        QByteArray bytes;
        QString text;
    } notUtf8[] = {{"[S]\r\nk=\xC0\xA9", QStringLiteral(u"À©")},
                   {"[S]\r\nk=a\xC3", QStringLiteral(u"aÃ")},
                   {"[S]\r\nk=\xED\xA0\x80", QStringLiteral(u"í\u00A0€")}};
    for (const auto &c : notUtf8) {
        writeBytes(path, c.bytes);
        EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), c.text) << c.bytes.toHex().toStdString();
    }
}

TEST_F(PrivateProfile, OddFilesStillReadBackWhatWasWritten)
{
    // A name starting with U+FEFF (bytes EF BB BF at the start of its line) is found again.
    const QString bomKey = QStringLiteral(u"\uFEFFkey"), bomSection = QStringLiteral(u"\uFEFFS");
    writeBytes(path, "[S]\r\n");
    ASSERT_TRUE(WritePrivateProfileString("S", bomKey, "1", path));
    ASSERT_TRUE(WritePrivateProfileString(bomSection, "k", "2", path));
    EXPECT_EQ(readBytes(path), "[S]\r\n\xEF\xBB\xBFkey=1\r\n[\xEF\xBB\xBFS]\r\nk=2\r\n");
    EXPECT_EQ(GetPrivateProfileString("S", bomKey, "none", path), "1");
    EXPECT_EQ(GetPrivateProfileString(bomSection, "k", "none", path), "2");
    EXPECT_EQ(GetPrivateProfileString("S", "key", "none", path), "none");

    // Windows-1252 only through the line rewritten: the file would read as UTF-8 after the
    // write, so the value goes escaped, and "\u00C3\u00A9" does not come back as "\u00E9".
    writeBytes(path, "[S]\r\nK=\xE9\r\nL=x\r\n");
    const QString mojibake = QStringLiteral(u"\u00C3\u00A9");
    ASSERT_TRUE(WritePrivateProfileString("S", "K", mojibake, path));
    EXPECT_EQ(readBytes(path), "[S]\r\nK=\\:\\u00c3\\u00a9\r\nL=x\r\n");
    EXPECT_EQ(DecodeProfileValue(GetPrivateProfileString("S", "K", "", path)), mojibake);
    // While another byte keeps the file Windows-1252, the value is written in it as before.
    writeBytes(path, "[S]\r\nK=\xE9\r\nL=\xE8\r\n");
    ASSERT_TRUE(WritePrivateProfileString("S", "K", mojibake, path));
    EXPECT_EQ(readBytes(path), "[S]\r\nK=\xC3\xA9\r\nL=\xE8\r\n");
    EXPECT_EQ(GetPrivateProfileString("S", "K", "", path), mojibake);
}

TEST_F(PrivateProfile, RefusesWhatWouldNotReadBack)
{
    const QByteArray original = "[S]\r\nk=1\r\n";
    writeBytes(path, original);
    const struct {
        const char *section, *key, *value;
    } bad[] = {
        {"S", "k", "cr\ronly"}, {"S", "k", "lf\nonly"}, {"S", "a\nb", "v"}, {"S", "a=b", "v"},
        {"S", "", "v"}, {"S", "[x", "v"}, {"S\nT", "k", "v"}, {"a]b", "k", "v"},
    };
    for (const auto &b : bad)
        EXPECT_FALSE(WritePrivateProfileString(b.section, b.key, b.value, path)) << b.key << b.value;
    EXPECT_EQ(readBytes(path), original);
}

TEST_F(PrivateProfile, LineBreaksRoundTripOnOneLine)
{
    const QString values[] = {
        "", "plain", "C:\\new\\readme.txt", "\\\\SRV\\NETLOGON_V2", "two\nlines", "dos\r\nlines",
        "lone\rcr", "\n", "\\:looks encoded", "\\:", "trail \n  ", "  lead\n", "tab\tend\t\n",
        "back\\slash\nand \\n text\\", "ends with vt\n\v", "emoji 😀\nnext",
    };
    for (const QString &v : values) {
        const QString stored = EncodeProfileValue(v);
        EXPECT_FALSE(stored.contains(u'\n') || stored.contains(u'\r')) << v.toStdString();
        ASSERT_TRUE(WritePrivateProfileString("S", "k", stored, path)) << v.toStdString();
        EXPECT_EQ(readBytes(path).count('\n'), 2) << v.toStdString();
        EXPECT_EQ(DecodeProfileValue(GetPrivateProfileString("S", "k", "", path)), v) << v.toStdString();
    }
    // Values without a line break are stored as they are, and old plain values read unchanged.
    EXPECT_EQ(EncodeProfileValue("C:\\x\\new"), "C:\\x\\new");
    EXPECT_EQ(DecodeProfileValue("C:\\x\\new"), "C:\\x\\new");
    EXPECT_EQ(DecodeProfileValue("\\:a\\qb\\"), "a\\qb\\") << "unknown escapes and a lone end kept";
}

} // namespace
