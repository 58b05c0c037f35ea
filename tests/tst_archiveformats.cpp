// SPDX-License-Identifier: GPL-3.0-or-later
// Which car archives this build's libarchive reads, opened as the program opens them: the
// zip, 7z, RAR and RAR 5 readers and every filter. One row a format and method, each with
// the answer the build gives: the archive read, names and bytes as they were put in, or the
// error libarchive gives, on Linux (Debian's libarchive) and on Windows (the static build of
// tools/archive-windows). Archives of a method libarchive's writer has are made here; the
// others are files in tests/data/archives/ (its README.md says how each was made).
#include <QCryptographicHash>
#include <QFile>
#include <QTest>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <clocale>
#include <memory>

namespace {

#ifdef Q_OS_WIN
constexpr bool windowsBuild = true;
#else
constexpr bool windowsBuild = false;
#endif

// An archive's entries, in the order they are put in or read: a folder's name ends in '/'.
struct Entry
{
    QByteArray name;
    QByteArray bytes;
};
using Entries = QList<Entry>;

// Byte i of the car's file k is (i*i + k) % 251: tests/data/archives/make-fixtures.sh
// writes the same files for the archives made outside the test.
QByteArray sample(int k, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * i + k) % 251);
    return bytes;
}

// What a car archive holds: its model, and its Maps folder with two textures.
Entries carEntries()
{
    return {{"Maps/", {}},
            {"kestrel.4ds", sample(0, 3000)},
            {"Maps/kestrel00.bmp", sample(1, 2000)},
            {"Maps/kestrel01.bmp", sample(2, 1500)}};
}

// The data of libarchive's RAR 5 tests (its test_read_format_rar5.c): little-endian 32-bit
// words k*k - 3k + 1 + magic, at least 0, for k from 1.
QByteArray rar5Words(int magic, int size)
{
    QByteArray bytes;
    for (qint64 k = 1; k <= size / 4; ++k) {
        const auto word = quint32(std::max<qint64>(k * k - 3 * k + 1 + magic, 0));
        for (int shift = 0; shift < 32; shift += 8)
            bytes.append(char((word >> shift) & 0xff));
    }
    return bytes;
}

QByteArray digest(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// What the test compares: each file as "name sha256", each link as "name -> target",
// sorted; folders left out, which an archive may or may not list.
QByteArrayList summary(const Entries &entries)
{
    QByteArrayList lines;
    for (const Entry &entry : entries) {
        if (!entry.name.endsWith('/'))
            lines.append(entry.name + ' ' + digest(entry.bytes));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// What reading an archive gave: the contents as summary() writes them, the error of the
// first call that failed (empty when none did), and whether an entry said it is encrypted.
struct Reading
{
    QByteArrayList contents;
    QByteArray error;
    bool encrypted = false;
};

using ArchivePointer = std::unique_ptr<archive, int (*)(archive *)>;

QByteArray errorOf(archive *reader)
{
    const char *error = archive_error_string(reader);
    return error ? QByteArray(error) : QByteArrayLiteral("(no message)");
}

bool readData(archive *reader, QByteArray &bytes)
{
    char buffer[16384];
    for (;;) {
        const la_ssize_t read = archive_read_data(reader, buffer, sizeof buffer);
        if (read == 0)
            return true;
        if (read < 0)
            return false;
        bytes.append(buffer, qsizetype(read));
    }
}

// A name from libarchive, taken as wide characters: on Windows it gives names in other
// code pages (hdrcharset=CP866) only so, its UTF-8 and ANSI ones being empty where the ANSI
// code page cannot hold them; on Linux it converts through the C library's character type,
// which must be UTF-8 (initTestCase()).
QByteArray utf8(const wchar_t *name)
{
    return name ? QString::fromWCharArray(name).toUtf8() : QByteArrayLiteral("(no name)");
}

// Reads a whole archive from memory, as the program will: the formats of car archives
// and every filter, with libarchive's options OPTIONS ("" for none).
Reading readArchive(const QByteArray &bytes, const char *options = "")
{
    Reading reading;
    ArchivePointer reader(archive_read_new(), archive_read_free);
    archive *a = reader.get();
    archive_read_support_format_zip(a);
    archive_read_support_format_7zip(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_filter_all(a);
    if (archive_read_set_options(a, options) != ARCHIVE_OK ||
        archive_read_open_memory(a, bytes.constData(), size_t(bytes.size())) != ARCHIVE_OK) {
        reading.error = errorOf(a);
        return reading;
    }
    for (;;) {
        archive_entry *entry = nullptr;
        const int result = archive_read_next_header(a, &entry);
        if (result == ARCHIVE_EOF)
            break;
        if (result < ARCHIVE_WARN) {
            reading.error = errorOf(a);
            break;
        }
        reading.encrypted = reading.encrypted || archive_entry_is_encrypted(entry);
        Entry read{utf8(archive_entry_pathname_w(entry)), {}};
        if (archive_entry_filetype(entry) == AE_IFDIR)
            continue;
        if (archive_entry_filetype(entry) == AE_IFLNK) {
            reading.contents.append(read.name + " -> " + utf8(archive_entry_symlink_w(entry)));
            continue;
        }
        if (!readData(a, read.bytes)) {
            reading.error = errorOf(a);
            break;
        }
        reading.contents.append(summary({read}));
    }
    std::sort(reading.contents.begin(), reading.contents.end());
    return reading;
}

la_ssize_t appendTo(archive *, void *out, const void *buffer, size_t size)
{
    static_cast<QByteArray *>(out)->append(static_cast<const char *>(buffer), qsizetype(size));
    return la_ssize_t(size);
}

bool writeEntry(archive *writer, const Entry &entry)
{
    std::unique_ptr<archive_entry, void (*)(archive_entry *)> header(archive_entry_new(),
                                                                     archive_entry_free);
    const bool folder = entry.name.endsWith('/');
    archive_entry_set_pathname_utf8(header.get(), entry.name.constData());
    archive_entry_set_filetype(header.get(), folder ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(header.get(), folder ? 0755 : 0644);
    archive_entry_set_size(header.get(), entry.bytes.size());
    archive_entry_set_mtime(header.get(), 1767323046, 0);
    return archive_write_header(writer, header.get()) == ARCHIVE_OK &&
           archive_write_data(writer, entry.bytes.constData(), size_t(entry.bytes.size())) ==
               la_ssize_t(entry.bytes.size());
}

enum class Format
{
    zip,
    sevenZip
};

// An archive made by libarchive's writer, with its options OPTIONS; empty if it cannot make
// it (the warning says why).
QByteArray writeArchive(Format format, const char *options, const Entries &entries = carEntries(),
                        const char *passphrase = nullptr)
{
    ArchivePointer writer(archive_write_new(), archive_write_free);
    archive *a = writer.get();
    QByteArray out;
    bool made = (format == Format::zip ? archive_write_set_format_zip(a)
                                       : archive_write_set_format_7zip(a)) == ARCHIVE_OK &&
                archive_write_set_options(a, options) == ARCHIVE_OK &&
                (!passphrase || archive_write_set_passphrase(a, passphrase) == ARCHIVE_OK) &&
                archive_write_open(a, &out, nullptr, appendTo, nullptr) == ARCHIVE_OK;
    for (const Entry &entry : entries)
        made = made && writeEntry(a, entry);
    made = made && archive_write_close(a) == ARCHIVE_OK;
    if (!made) {
        qWarning("libarchive cannot write %s: %s", options, archive_error_string(a));
        return {};
    }
    return out;
}

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(":/archives/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qWarning("No fixture %s", name);
    return file.readAll();
}

// A row of an archive that holds the car's files.
QTestData &carRow(const char *name, const QByteArray &bytes)
{
    return QTest::newRow(name) << bytes << summary(carEntries());
}

void zipRows()
{
    const QByteArray none;
    carRow("zip stored", writeArchive(Format::zip, "zip:compression=store"))
        << none << none << false;
    carRow("zip deflate", writeArchive(Format::zip, "zip:compression=deflate"))
        << none << none << false;
    carRow("zip bzip2", fixture("zip-bzip2.zip")) << none << none << false;
    carRow("zip lzma", fixture("zip-lzma.zip")) << none << none << false;
    carRow("zip xz", fixture("zip-xz.zip")) << none << none << false;
    // The Windows build has no zstd (tools/archive-windows).
    carRow("zip zstd", fixture("zip-zstd.zip"))
        << none << QByteArray("Unsupported ZIP compression method (93: zstd)") << false;
}

void sevenZipRows()
{
    const QByteArray none;
    // libarchive's 7z writer puts every file in one folder: its archives are solid too.
    carRow("7z LZMA", writeArchive(Format::sevenZip, "7zip:compression=lzma1"))
        << none << none << false;
    carRow("7z LZMA2", writeArchive(Format::sevenZip, "7zip:compression=lzma2"))
        << none << none << false;
    carRow("7z BCJ+LZMA2", fixture("7z-bcj-lzma2.7z")) << none << none << false;
    carRow("7z PPMd", writeArchive(Format::sevenZip, "7zip:compression=ppmd"))
        << none << none << false;
    carRow("7z bzip2", writeArchive(Format::sevenZip, "7zip:compression=bzip2"))
        << none << none << false;
    carRow("7z deflate", writeArchive(Format::sevenZip, "7zip:compression=deflate"))
        << none << none << false;
    carRow("7z solid", fixture("7z-solid.7z")) << none << none << false;
}

// From libarchive's own tests, with names and bytes as its tests have them: the text files
// with CR LF, the RAR 5 ones rar5Words(), the HTML file by the digest of the bytes whose
// CRC the archive holds.
void rarRows()
{
    const QByteArray none;
    const QByteArray text = digest("test text document\r\n");
    QTest::newRow("RAR 4 stored") << fixture("rar4-stored.rar")
                                  << QByteArrayList{"test.txt " + text, "testdir/test.txt " + text,
                                                    "testlink -> test.txt"}
                                  << none << none << false;
    const QByteArray html = "ee16390e87152d7dec632ae2b37566da6135966e46b5166e6f40a1c827fa61ad";
    QTest::newRow("RAR 4 compressed")
        << fixture("rar4-compressed.rar")
        << QByteArrayList{"LibarchiveAddingTest.html " + html,
                          "testdir/LibarchiveAddingTest.html " + html, "testdir/test.txt " + text,
                          "testlink -> LibarchiveAddingTest.html"}
        << none << none << false;
    QTest::newRow("RAR 5 stored") << fixture("rar5-stored.rar")
                                  << summary({{"helloworld.txt", "hello libarchive test suite!\n"}})
                                  << none << none << false;
    QTest::newRow("RAR 5 compressed")
        << fixture("rar5-compressed.rar") << summary({{"test.bin", rar5Words(0, 1200)}}) << none
        << none << false;
    QTest::newRow("RAR 5 solid") << fixture("rar5-solid.rar")
                                 << summary({{"test1.bin", rar5Words(1, 4096)},
                                             {"test2.bin", rar5Words(2, 4096)},
                                             {"test3.bin", rar5Words(3, 4096)},
                                             {"test4.bin", rar5Words(4, 4096)}})
                                 << none << none << false;
}

// What the engine must tell from a car archive: an archive it cannot read whole, and the
// error libarchive gives for it (the same on both builds).
void hostileRows()
{
    const auto hostile = [](const char *name, const QByteArray &bytes, const QByteArray &error,
                            bool encrypted) {
        QTest::newRow(name) << bytes << QByteArrayList{} << error << error << encrypted;
    };
    hostile("zip encrypted (PKWARE)",
            writeArchive(Format::zip, "zip:encryption=zipcrypt", carEntries(), "kestrel"),
            "Passphrase required for this entry", true);
    hostile("7z encrypted", fixture("7z-encrypted.7z"),
            "The file content is encrypted, but currently not supported", true);
    hostile("RAR 4 encrypted", fixture("rar4-encrypted.rar"), "Prefix found", true);
    // Cut in the model's data, and cut in the list of files at the end, which a reader that
    // reads the archive as it comes never needs.
    const QByteArray zip = writeArchive(Format::zip, "zip:compression=deflate");
    const qsizetype model = zip.indexOf("kestrel.4ds"), next = zip.indexOf("Maps/kestrel00");
    hostile("zip truncated", zip.left((model + next) / 2), "ZIP decompression failed (-5)", false);
    carRow("zip without its end", zip.left(zip.size() - 30))
        << QByteArray() << QByteArray() << false;
    hostile("no archive", sample(0, 3000), "Unrecognized archive format", false);
}

} // namespace

class ArchiveFormatsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reads_data();
    void reads();
    void namesInCodePage866();
};

// A desktop's locale is UTF-8, and the program's with it; the test's may be "C", in which
// libarchive on Linux cannot convert names that are not ASCII (Windows' libarchive uses
// the Windows code pages, whatever the C library's locale).
void ArchiveFormatsTest::initTestCase()
{
    if (!windowsBuild)
        QVERIFY(std::setlocale(LC_CTYPE, "C.UTF-8"));
}

// The columns: the archive; its contents as summary() writes them; the error libarchive
// gives on Linux and on Windows, empty where it reads the archive whole; whether an entry
// says it is encrypted.
void ArchiveFormatsTest::reads_data()
{
    QTest::addColumn<QByteArray>("archiveBytes");
    QTest::addColumn<QByteArrayList>("contents");
    QTest::addColumn<QByteArray>("linuxError");
    QTest::addColumn<QByteArray>("windowsError");
    QTest::addColumn<bool>("encrypted");
    zipRows();
    sevenZipRows();
    rarRows();
    hostileRows();
}

void ArchiveFormatsTest::reads()
{
    QFETCH(QByteArray, archiveBytes);
    QFETCH(QByteArrayList, contents);
    QFETCH(QByteArray, linuxError);
    QFETCH(QByteArray, windowsError);
    QFETCH(bool, encrypted);
    QVERIFY2(!archiveBytes.isEmpty(), "No archive to read");
    const Reading reading = readArchive(archiveBytes);
    QCOMPARE(reading.error, windowsBuild ? windowsError : linuxError);
    QCOMPARE(reading.encrypted, encrypted);
    if (reading.error.isEmpty())
        QCOMPARE(reading.contents, contents);
}

// A zip from a packer of the old Russian DOS world names its files in code page 866 with no
// UTF-8 flag; read with libarchive's hdrcharset=CP866, the names come out right on both
// builds, Windows' without iconv (libarchive converts through Windows' code pages there).
// The zip is written with a name of as many ASCII letters, then given the CP866 bytes in
// its place: libarchive's writer on Windows needs a name the ANSI code page can hold.
void ArchiveFormatsTest::namesInCodePage866()
{
    const QByteArray model = sample(0, 100);
    const QByteArray cp866 = "\x8e\xe0\xe2\xa0\xad\xa0.4ds", placeholder = "OOOOOO.4ds";
    QByteArray zip = writeArchive(Format::zip, "zip:compression=store", {{placeholder, model}});
    QCOMPARE(zip.count(placeholder), 2); // the entry's header and the list at the end
    zip.replace(placeholder, cp866);
    const Reading reading = readArchive(zip, "zip:hdrcharset=CP866");
    QCOMPARE(reading.error, QByteArray());
    QCOMPARE(reading.contents, summary({{"Ортана.4ds", model}}));
    // Read as UTF-8, the name is not this one.
    QVERIFY(!readArchive(zip, "zip:hdrcharset=UTF-8").contents.contains(reading.contents.value(0)));
}

QTEST_GUILESS_MAIN(ArchiveFormatsTest)
#include "tst_archiveformats.moc"
