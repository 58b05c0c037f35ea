// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/archivedigest.h"
#include "archive/archivenames.h"
#include "archive/archivereader.h"
#include "archive/archivetree.h"
#include "archivewriter.h"
#include "install/givenfile.h"
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/processinfo.h"
#include "runtime/textconv.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QtEndian>

using namespace Qt::StringLiterals;
using namespace archives;
using runtime::ErrorKind;
using testarchive::Entry;

namespace {

// "Машина" as Windows writes it in a zip, and as in its own code page.
const QByteArray Cp866 = "\x8C\xA0\xE8\xA8\xAD\xA0";
const QByteArray Cp1251 = "\xCC\xE0\xF8\xE8\xED\xE0";
const QString Word = u"Машина"_s;

// Takes what a reading streams.
struct Collected : MemberSink
{
    QStringList begun;
    QList<QByteArray> read;
    void begin(const Member &member) override
    {
        begun.append(member.path);
        read.append(QByteArray());
    }
    int data(const char *bytes, qint64 size) override
    {
        read.last().append(bytes, size);
        return 0;
    }
    void end(const Member &) override {}
};

// Clears a zip's UTF-8 flag in every header, as archivers that write UTF-8 names without
// saying so leave it.
void withoutUtf8Flag(QByteArray &zip)
{
    for (const auto &[signature, at] : {std::pair{"PK\x03\x04", 7}, {"PK\x01\x02", 9}}) {
        for (qsizetype i = zip.indexOf(signature); i >= 0; i = zip.indexOf(signature, i + 4))
            zip[i + at] = char(zip[i + at] & ~0x08);
    }
}

// The archive the reader's refusals start from: a model, 1 MiB of zeros, a texture.
QByteArray fixture(const char *format, const char *options = nullptr)
{
    TempTree tree;
    const QByteArray path = tree.hostPath("car");
    if (!testarchive::write(path, format,
                            {{"car.4ds", "model"},
                             {"Maps/zeros.bmp", QByteArray(1 << 20, '\0')},
                             {"Maps/a.bmp", "a"}},
                            options))
        qWarning("libarchive cannot write %s", format);
    return host::read(path);
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : bytes) {
        crc ^= uchar(byte);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

// rar4-stored.rar with the text of its "testdir/test.txt" (the file block at byte 148, of 58
// bytes, then the data) in capitals, its CRC-32 and its block's made to match: the two texts
// differ, each to be checked against its own block.
QByteArray capitalised(QByteArray rar)
{
    const qsizetype block = 148, size = 58, data = block + size;
    rar.replace(data, 20, rar.mid(data, 20).toUpper());
    qToLittleEndian(crc32(rar.mid(data, 20)), rar.data() + block + 16);
    qToLittleEndian(quint16(crc32(rar.mid(block + 2, size - 2))), rar.data() + block);
    return rar;
}

QByteArray flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = char(bytes[at] ^ 0x10);
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(Limits)

class TestArchive : public QObject
{
    Q_OBJECT

    runtime::HostFileSystem m_files;

    // The members of `path`, or the kind of the error reading it threw.
    std::variant<QList<Member>, ErrorKind> listed(const QByteArray &path, Limits limits = {})
    {
        try {
            ArchiveReader reader(m_files, path, u"a.zip"_s, limits);
            return reader.members();
        } catch (const runtime::RuntimeError &failure) {
            return failure.error().kind;
        }
    }

private slots:
    void names_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("zip");
        QTest::addColumn<QString>("name");
        QTest::newRow("ascii") << QByteArray("Maps/a.bmp") << true << u"Maps/a.bmp"_s;
        QTest::newRow("utf-8 unmarked, zip") << Word.toUtf8() << true << Word;
        QTest::newRow("utf-8 unmarked, other") << Word.toUtf8() << false << Word;
        QTest::newRow("zip from Windows") << Cp866 << true << Word;
        QTest::newRow("other from Windows") << Cp1251 << false << Word;
        QTest::newRow("ё, zip") << QByteArray("\xF1") << true << u"ё"_s;
        QTest::newRow("ё, other") << QByteArray("\xB8") << false << u"ё"_s;
    }
    void names()
    {
        QFETCH(QByteArray, raw);
        QFETCH(bool, zip);
        QFETCH(QString, name);
        QCOMPARE(decodeBytes(raw, zip ? NameBytes::Zip : NameBytes::Other), name);
    }

    // The tables against the code pages as ICU has them, where this Qt has ICU: their upper
    // halves (ICU's 866 moves some control characters of the lower one, Windows' does not).
    void codePages()
    {
        QByteArray upper;
        for (int b = 0x80; b < 0x100; ++b)
            upper.append(char(b));
        int compared = 0;
        for (const auto &[name, decode] : {std::pair{"IBM866", &runtime::decodeCp866},
                                           {"windows-1251", &runtime::decodeWindows1251}}) {
            QStringDecoder icu(name);
            if (!icu.isValid())
                continue;
            QString expected = icu(upper);
            if (QByteArray(name) == "windows-1251")
                expected[0x18] = QChar::ReplacementCharacter; // 0x98 is unassigned
            QCOMPARE(decode(upper), expected);
            ++compared;
        }
        if (!compared)
            QSKIP("no ICU in this Qt");
    }

    void components_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("components"); // empty: refused
        QTest::newRow("plain") << u"Wren/Maps/a.bmp"_s
                               << QStringList{u"Wren"_s, u"Maps"_s, u"a.bmp"_s};
        QTest::newRow("backslashes, dots")
            << u".\\Maps//a.bmp"_s << QStringList{u"Maps"_s, u"a.bmp"_s};
        QTest::newRow("folder entry") << u"Maps/"_s << QStringList{u"Maps"_s};
        QTest::newRow("up") << u"Maps/../../a.bmp"_s << QStringList();
        QTest::newRow("root") << u"/etc/a.bmp"_s << QStringList();
        QTest::newRow("root, backslash") << u"\\a.bmp"_s << QStringList();
        QTest::newRow("drive") << u"C:a.bmp"_s << QStringList();
        QTest::newRow("device") << u"Maps/con.bmp"_s << QStringList();
        QTest::newRow("stream") << u"Maps/a.bmp:hidden"_s << QStringList();
        QTest::newRow("wildcard") << u"Maps/a?.bmp"_s << QStringList();
        QTest::newRow("control") << u"Maps/a\u0001.bmp"_s << QStringList();
        QTest::newRow("nothing") << u"./"_s << QStringList();
    }
    void components()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, components);
        QCOMPARE(memberComponents(path).value_or(QStringList()), components);
    }

    // Each way a name is stored, read back as the rule has it.
    void storedNames_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("stored"); // 0 as the writer has it, 1 unmarked, 2 in 866
        QTest::newRow("zip, utf-8 flag")
            << QByteArray("zip") << QByteArray("hdrcharset=UTF-8") << 0;
        QTest::newRow("zip, utf-8 unmarked")
            << QByteArray("zip") << QByteArray("hdrcharset=UTF-8") << 1;
        QTest::newRow("zip, code page 866") << QByteArray("zip") << QByteArray() << 2;
        QTest::newRow("7z") << QByteArray("7zip") << QByteArray() << 0;
    }
    void storedNames()
    {
        QFETCH(QByteArray, format);
        QFETCH(QByteArray, options);
        QFETCH(int, stored);
        TempTree tree;
        const QByteArray path = tree.hostPath("car");
        // In 866, the name goes in as ASCII of its length, and its bytes over it.
        const QByteArray folder = stored == 2 ? "XXXXXX" : Word.toUtf8();
        const QByteArray texture = stored == 2 ? "X.bmp" : u"ё.bmp"_s.toUtf8();
        {
            runtime::Utf8Text utf8; // the names given in UTF-8
            QVERIFY(testarchive::write(
                path, format, {{folder + "/Maps/" + texture, "tex"}, {"Wren/car.4ds", "model"}},
                options.isEmpty() ? nullptr : options.constData()));
        }
        QByteArray bytes = host::read(path);
        if (stored == 1)
            withoutUtf8Flag(bytes);
        if (stored == 2)
            bytes.replace("XXXXXX/Maps/X.bmp", Cp866 + "/Maps/\xF1.bmp");
        host::write(path, bytes);
        const auto members = std::get<QList<Member>>(listed(path));
        QCOMPARE(members.size(), 2);
        QCOMPARE(members[0].components, (QStringList{Word, u"Maps"_s, u"ё.bmp"_s}));
        QCOMPARE(members[1].path, u"Wren/car.4ds"_s);
    }

    void kinds()
    {
        TempTree tree;
        const QByteArray path = tree.hostPath("car.zip");
        QVERIFY(testarchive::write(path, "zip",
                                   {{"Maps/", {}, Entry::Folder},
                                    {"Maps/a.bmp", "a"},
                                    {"Maps/b.bmp", "Maps/a.bmp", Entry::Link},
                                    {"Maps/../up.bmp", "up"}}));
        const auto members = std::get<QList<Member>>(listed(path));
        QCOMPARE(members.size(), 4);
        QCOMPARE(members[0].kind, Member::Folder);
        QCOMPARE(members[1].kind, Member::File);
        QCOMPARE(members[1].size, 1);
        QCOMPARE(members[2].kind, Member::Other);
        QCOMPARE(members[3].components, QStringList());
    }

    void methods_data()
    {
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("method");
        QTest::newRow("zip") << u"Unsupported ZIP compression method (93: zstd)"_s << u"zstd"_s;
        QTest::newRow("7z") << u"Unknown codec ID: 21"_s << u"21"_s;
        QTest::newRow("RAR") << u"RAR solid archive support unavailable."_s
                             << u"RAR solid archive support unavailable"_s;
        QTest::newRow("RAR, unsupported")
            << u"Unsupported RAR version"_s << u"Unsupported RAR version"_s;
        QTest::newRow("no number") << u"Unsupported (x: y)"_s << QString();
        QTest::newRow("damage") << u"ZIP bad CRC"_s << QString();
    }
    // The method named in libarchive's words, for the player's message.
    void methods()
    {
        QFETCH(QString, said);
        QFETCH(QString, method);
        QCOMPARE(unpackMethod(said), method);
    }

    // What the reader refuses, each with its own error; a member's data with a byte flipped
    // is refused by its CRC-32, and the same archive whole is read (kind -1).
    void refused_data()
    {
        QTest::addColumn<QByteArray>("content"); // "" for the fixture's zip
        QTest::addColumn<int>("cut");            // bytes cut from its end
        QTest::addColumn<Limits>("limits");
        QTest::addColumn<bool>("whileReading");
        QTest::addColumn<int>("kind");
        const Limits none;
        const int damaged = int(ErrorKind::Damaged);
        // In the data of the middle member, 1 MiB of zeros, where it is stored.
        const QByteArray zip = fixture("zip", "zip:compression=store");
        const QByteArray sevenZip = fixture("7zip", "7zip:compression=store");
        QTest::newRow("zip stored, whole") << zip << 0 << none << true << -1;
        QTest::newRow("zip stored, a byte flipped")
            << flipped(zip, zip.size() / 2) << 0 << none << true << damaged;
        QTest::newRow("7z stored, whole") << sevenZip << 0 << none << true << -1;
        QTest::newRow("7z stored, a byte flipped")
            << flipped(sevenZip, sevenZip.size() / 2) << 0 << none << true << damaged;
        // From libarchive's tests (tests/data/archives): "test text document\r\n", the
        // member "test.txt" and "helloworld.txt" from byte 70 and 72.
        for (const char *name : {"rar4-stored.rar", "rar5-stored.rar"}) {
            QFile file(u":/archives/"_s + QLatin1StringView(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray rar = file.readAll();
            QTest::addRow("%s, whole", name) << rar << 0 << none << true << -1;
            QTest::addRow("%s, a byte flipped", name)
                << flipped(rar, 75) << 0 << none << true << damaged;
            if (QByteArray(name) == "rar4-stored.rar") {
                QTest::newRow("rar4, texts differing, whole")
                    << capitalised(rar) << 0 << none << true << -1;
                QTest::newRow("rar4, texts differing, the second's byte flipped")
                    << flipped(capitalised(rar), 210) << 0 << none << true << damaged;
            }
        }
        QTest::newRow("no archive") << QByteArray("car list, not an archive") << 0 << none << false
                                    << int(ErrorKind::NotAnArchive);
        QTest::newRow("cut short")
            << QByteArray() << 300 << none << true << int(ErrorKind::Damaged);
        QTest::newRow("too many members")
            << QByteArray() << 0 << Limits{2} << false << int(ErrorKind::TooManyMembers);
        QTest::newRow("too many bytes")
            << QByteArray() << 0 << Limits{10, 1000} << true << int(ErrorKind::TooMuchData);
        QTest::newRow("packed too tightly") << QByteArray() << 0 << Limits{10, qint64(1) << 30, 10}
                                            << true << int(ErrorKind::TooMuchData);
    }
    void refused()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, cut);
        QFETCH(Limits, limits);
        QFETCH(bool, whileReading);
        QFETCH(int, kind);
        TempTree tree;
        const QByteArray path = tree.hostPath("car.zip");
        if (content.isEmpty())
            content = fixture("zip");
        host::write(path, content.first(content.size() - cut));
        ArchiveReader reader(m_files, path, u"car.zip"_s, limits);
        try {
            QSet<int> files;
            for (const Member &member : reader.members())
                if (member.kind == Member::File)
                    files.insert(member.index);
            QVERIFY(whileReading);
            Collected sink;
            reader.read(files, sink);
            QCOMPARE(sink.read.size(), files.size());
            if (kind >= 0)
                QFAIL("read whole");
        } catch (const runtime::RuntimeError &failure) {
            QCOMPARE(int(failure.error().kind), kind);
            QCOMPARE(failure.error().path, u"car.zip"_s);
        }
    }

    void encrypted()
    {
        TempTree tree;
        const QByteArray path = tree.hostPath("car.zip");
        if (!testarchive::write(path, "zip", {{"car.4ds", "model"}}, "zip:encryption=zipcrypt",
                                "secret"))
            QSKIP("this libarchive writes no encrypted zip");
        QCOMPARE(std::get<ErrorKind>(listed(path)), ErrorKind::Encrypted);
    }

    // Members found as files in folders are, case-blind; only ordinary files are listed.
    void tree()
    {
        QList<Member> members;
        const auto add = [&](const QString &path, Member::Kind kind) {
            members.append({int(members.size()), path,
                            memberComponents(path).value_or(QStringList()), kind, 1});
        };
        add(u"Wren Arrow/wren.4ds"_s, Member::File);   // 0
        add(u"Wren Arrow/Maps/b.TGA"_s, Member::File); // 1
        add(u"Wren Arrow/Maps/A.bmp"_s, Member::File); // 2
        add(u"Wren Arrow/Maps/a.bmp"_s, Member::File); // 3
        add(u"Wren Arrow/Maps/.hidden.bmp"_s, Member::File);
        add(u"Wren Arrow/Maps/link.bmp"_s, Member::Other);
        add(u"Wren Arrow/Maps/Sub/"_s, Member::Folder);
        add(u"../Wren Arrow/Maps/up.bmp"_s, Member::File);
        add(u"Wren Arrow/wren.4ds"_s, Member::File); // 8: the later stands
        const ArchiveTree tree(members);
        const QString shown = u"wren.zip"_s;
        QCOMPARE(tree.find({u"wren arrow"_s, u"WREN.4DS"_s}, shown), 8);
        QCOMPARE(tree.find({u"WREN ARROW"_s, u"maps"_s}, shown), -1);
        QCOMPARE(tree.find({u"Wren Arrow"_s, u"Maps"_s, u"a.bmp"_s}, shown), 3);
        QCOMPARE(tree.find({u"Wren Arrow"_s, u"nothing"_s}, shown), std::nullopt);
        QCOMPARE(tree.find({u"Wren Arrow"_s, u"wren.4ds"_s, u"x"_s}, shown), std::nullopt);
        QVERIFY_THROWS_EXCEPTION(runtime::RuntimeError,
                                 tree.find({u"Wren Arrow"_s, u"Maps"_s, u"A.BMP"_s}, shown));
        QCOMPARE(tree.files({u"wren arrow"_s, u"MAPS"_s}, {}, shown),
                 (QStringList{u"A.bmp"_s, u"a.bmp"_s, u"b.TGA"_s}));
        QCOMPARE(tree.files({u"Wren Arrow"_s, u"Maps"_s}, u"*.tga"_s, shown),
                 QStringList{u"b.TGA"_s});
        QCOMPARE(tree.files({u"Wren Arrow"_s, u"wren.4ds"_s}, {}, shown), QStringList());
    }

    // The car's textures are the "maps" folder nearest its model, else the nearest folder with
    // textures. A member ending in "/" is a folder, one starting with "@" a link.
    void mapsNearModel_data()
    {
        QTest::addColumn<QStringList>("members");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("maps"); // "-": none
        const auto row = [](const char *name, QStringList members, const QString &maps) {
            QTest::newRow(name) << members << members.first() << maps;
        };
        row("beside", {u"Wren Arrow/wren.4ds"_s, u"Wren Arrow/Maps/a.bmp"_s}, u"Wren Arrow/Maps"_s);
        row("wrapped, any case",
            {u"Wren v2/Wren Arrow/wren.4ds"_s, u"Wren v2/Wren Arrow/MAPS/a.tga"_s},
            u"Wren v2/Wren Arrow/MAPS"_s);
        row("up and down", {u"Wren/models/wren.4ds"_s, u"Wren/maps/a.bmp"_s}, u"Wren/maps"_s);
        row("the nearer of two", {u"B/wren.4ds"_s, u"A/Maps/x.bmp"_s, u"B/Maps/y.bmp"_s},
            u"B/Maps"_s);
        row("as near: the first met", {u"wren.4ds"_s, u"B/Maps/x.bmp"_s, u"A/Maps/y.bmp"_s},
            u"B/Maps"_s);
        row("maps before textures", {u"Car/wren.4ds"_s, u"Car/tex/a.bmp"_s, u"Maps/"_s}, u"Maps"_s);
        row("maps before textures met later", {u"Car/wren.4ds"_s, u"Maps/"_s, u"Car/tex/a.bmp"_s},
            u"Maps"_s);
        row("textures without maps",
            {u"Car/wren.4ds"_s, u"Car/readme.txt"_s, u"Car/Textures/a.BMP"_s}, u"Car/Textures"_s);
        row("textures at the top", {u"wren.4ds"_s, u"a.tga"_s}, u""_s);
        row("none", {u"wren.4ds"_s, u"readme.txt"_s, u"shots/1.jpg"_s, u"maps"_s}, u"-"_s);
        row("only through unsafe paths and links",
            {u"wren.4ds"_s, u"../Maps/a.bmp"_s, u"@Links/Maps/a.bmp"_s, u"@Sub/a.bmp"_s}, u"-"_s);
    }
    void mapsNearModel()
    {
        QFETCH(QStringList, members);
        QFETCH(QString, model);
        QFETCH(QString, maps);
        QList<Member> list;
        for (QString path : members) {
            const bool link = path.startsWith(u'@');
            if (link)
                path.remove(0, 1);
            const Member::Kind kind = link                  ? Member::Other
                                      : path.endsWith(u'/') ? Member::Folder
                                                            : Member::File;
            list.append(
                {int(list.size()), path, memberComponents(path).value_or(QStringList()), kind, 1});
        }
        const std::optional<QStringList> found = mapsNear(list, model.split(u'/'));
        QCOMPARE(found ? found->join(u'/') : u"-"_s, maps);
    }

    // A path passes through an archive file, found case-blind, not through a folder so named.
    void located()
    {
        TempTree tree;
        tree.file(u"Downloads/wren.zip"_s);
        tree.dir("Downloads/folder.zip");
        const runtime::HostPaths host;
        runtime::FolderIndex folders(m_files);
        const auto place =
            locate(tree.path(u"downloads/WREN.ZIP/Wren Arrow/Maps/"_s), host, folders);
        QVERIFY(place);
        QCOMPARE(runtime::caseKey(runtime::decodeName(place->archiveHost)), // exact on POSIX
                 runtime::caseKey(tree.path(u"Downloads/wren.zip"_s)));
        QCOMPARE(place->inside, (QStringList{u"Wren Arrow"_s, u"Maps"_s}));
        QVERIFY(place->trailingSeparator);
        QCOMPARE(locate(tree.path(u"Downloads/folder.zip/car.4ds"_s), host, folders), std::nullopt);
        QCOMPARE(locate(tree.path(u"Downloads/other.zip/car.4ds"_s), host, folders), std::nullopt);
    }

    // Only the members asked for are read, each once, in the archive's order; the digest of
    // the whole file is taken from that reading, what it passed over read once more.
    void readsWhatIsWanted_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("large"); // bytes of each member passed over or read, beyond the rest
        QTest::addColumn<qint64>("readHere"); // at the most
        // Read whole, its header at the end first, which is kept till the digest reaches it.
        QTest::newRow("7z") << QByteArray("7zip") << (1 << 20) << qint64(0);
        // Larger than what the digest keeps of the end: a member passed over is read at once,
        // and nothing after it again.
        const int large = int(ArchiveDigest::TailBytes / 2);
        QTest::newRow("zip, members passed over")
            << QByteArray("zip") << large << qint64(3) * large;
    }
    void readsWhatIsWanted()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, large);
        QFETCH(qint64, readHere);
        TempTree tree;
        const QByteArray path = tree.hostPath("car.7z");
        QByteArray big(large, '\0'); // as good as incompressible
        QRandomGenerator random(7);
        random.fillRange(reinterpret_cast<quint32 *>(big.data()), large / 4);
        QVERIFY(testarchive::write(path, format,
                                   {{"readme.txt", "read me" + big},
                                    {"Wren/wren.4ds", QByteArray(300'000, 'm') + big},
                                    {"Wren/Maps/a.bmp", "a" + big},
                                    {"Wren/Maps/b.bmp", big + big},
                                    {"Wren/Maps/c.bmp", "c"}},
                                   format == "zip" ? "zip:compression=store" : nullptr));
        ArchiveReader reader(m_files, path, u"car.7z"_s);
        ArchiveDigest digest(m_files);
        reader.setWatcher(&digest);
        Collected sink;
        qint64 lastDone = 0;
        reader.read({2, 1, 4}, sink, [&](qint64 done, qint64 total) {
            QVERIFY(done >= lastDone && done <= total);
            lastDone = done;
        });
        QCOMPARE(sink.begun,
                 (QStringList{u"Wren/wren.4ds"_s, u"Wren/Maps/a.bmp"_s, u"Wren/Maps/c.bmp"_s}));
        QCOMPARE(sink.read, (QList<QByteArray>{QByteArray(300'000, 'm') + big, "a" + big, "c"}));
        QVERIFY(lastDone > 0);
        const QByteArray whole = host::read(path);
        QCOMPARE(digest.digest(), QCryptographicHash::hash(whole, QCryptographicHash::Blake2b_256));
        // What the reading passed over (the read-me, the large texture), and nothing more.
        QVERIFY2(digest.readHere() <= readHere, qPrintable(QString::number(digest.readHere())));

        // Read as a zip's reader reads: its end first, then from the start in order. The end
        // is kept till the digest reaches it, not read again.
        ArchiveDigest replay(m_files);
        runtime::Fd file;
        QCOMPARE(m_files.open(path, file), 0);
        const qint64 size = whole.size(), end = std::min<qint64>(size, 64 * 1024);
        replay.read(file, size, size - end, whole.constData() + size - end, end);
        for (qint64 at = 0; at < size - end; at += 64 * 1024)
            replay.read(file, size, at, whole.constData() + at,
                        std::min<qint64>(64 * 1024, size - end - at));
        replay.done(file, size);
        QCOMPARE(replay.digest(), digest.digest());
        QCOMPARE(replay.readHere(), 0);
    }

    // The members before the first wanted one of a 7z's solid block are read through, not
    // skipped: libarchive could not read the wanted ones after a large skipped one.
    void readsThroughSolidBlock()
    {
        TempTree tree;
        const QByteArray path = tree.hostPath("car.7z");
        QByteArray readme(1 << 20, 0); // that the packer cannot shrink much
        quint32 state = 1;
        for (char &byte : readme)
            byte = char((state = state * 1103515245 + 12345) >> 24);
        QVERIFY(testarchive::write(path, "7zip",
                                   {{"readme.txt", readme},
                                    {"Wren/wren.4ds", QByteArray(300'000, 'm')},
                                    {"Wren/Maps/a.bmp", "a"}}));
        ArchiveReader reader(m_files, path, u"car.7z"_s);
        Collected sink;
        reader.read({2, 1}, sink);
        QCOMPARE(sink.read, (QList<QByteArray>{QByteArray(300'000, 'm'), "a"}));
    }
};

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
