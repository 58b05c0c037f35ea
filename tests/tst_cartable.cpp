// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/cartable.h"
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "testsupport.h"
#include "texts/messages.h"

#include <QStringEncoder>

using namespace Qt::StringLiterals;
using runtime::ErrorKind;

namespace {

QByteArray carRecords(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "Car " + QByteArray::number(i) + ",car" + QByteArray::number(i) + ",2\r\n";
    return text;
}

// Text as a file in UTF-16 with its byte order mark, as Notepad's "Unicode" (little endian)
// or "Unicode big endian" saves it.
QByteArray utf16File(QStringView text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding);
    const QByteArray mark = encoding == QStringConverter::Utf16LE ? "\xFF\xFE" : "\xFE\xFF";
    return mark + QByteArray(encoder(text));
}

} // namespace

class TestCarTable : public QObject
{
    Q_OBJECT

    const runtime::HostPaths m_host; // the lists are named by absolute paths
    runtime::HostFileSystem m_files;

private slots:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("models");
        QTest::addColumn<QList<int>>("colours");

        QTest::newRow("empty") << QByteArray() << QStringList() << QStringList() << QList<int>();
        QTest::newRow("blank lines only")
            << QByteArray("\r\n  \n\n") << QStringList() << QStringList() << QList<int>();
        QTest::newRow("one per line") << QByteArray("Wren Arrow,wren,4\nMarlow,marlow,1\n")
                                      << QStringList{u"Wren Arrow"_s, u"Marlow"_s}
                                      << QStringList{u"wren"_s, u"marlow"_s} << QList<int>{4, 1};
        QTest::newRow("no final newline")
            << QByteArray("A,a,2") << QStringList{u"A"_s} << QStringList{u"a"_s} << QList<int>{2};
        QTest::newRow("trailing blank lines")
            << QByteArray("A,a,2\r\n\r\n   \r\n\t\n") << QStringList{u"A"_s} << QStringList{u"a"_s}
            << QList<int>{2};
        QTest::newRow("quoted with comma")
            << QByteArray("\"Corvell, V16\",corvell,3\n") << QStringList{u"Corvell, V16"_s}
            << QStringList{u"corvell"_s} << QList<int>{3};
        QTest::newRow("spaces around fields")
            << QByteArray("  Wren Arrow  ,  wren  , 4 \n") << QStringList{u"Wren Arrow"_s}
            << QStringList{u"wren"_s} << QList<int>{4};
        QTest::newRow("record spans lines")
            << QByteArray("Wren\nwren\n3\nMarlow,\n marlow,\n1\n")
            << QStringList{u"Wren"_s, u"Marlow"_s} << QStringList{u"wren"_s, u"marlow"_s}
            << QList<int>{3, 1};
        QTest::newRow("duplicates kept")
            << QByteArray("Same,a,1\nSame,b,2\n") << QStringList{u"Same"_s, u"Same"_s}
            << QStringList{u"a"_s, u"b"_s} << QList<int>{1, 2};
        QTest::newRow("negative and signs")
            << QByteArray("A,a,-3\nB,b,+0\nC,c,0005\n") << QStringList{u"A"_s, u"B"_s, u"C"_s}
            << QStringList{u"a"_s, u"b"_s, u"c"_s} << QList<int>{-3, 0, 5};
        QTest::newRow("16-bit limits")
            << QByteArray("A,a,32767\nB,b,-32768\n") << QStringList{u"A"_s, u"B"_s}
            << QStringList{u"a"_s, u"b"_s} << QList<int>{32767, -32768};
        QTest::newRow("utf8 with bom")
            << QByteArray("\xEF\xBB\xBFМолния,molnia,2\n") << QStringList{u"Молния"_s}
            << QStringList{u"molnia"_s} << QList<int>{2};
        QTest::newRow("utf-16 le with bom, as Notepad saves it")
            << utf16File(u"Молния,molnia,2\r\n\"Wren, «Ёж»\",wren,4\r\n", QStringConverter::Utf16LE)
            << QStringList{u"Молния"_s, u"Wren, «Ёж»"_s} << QStringList{u"molnia"_s, u"wren"_s}
            << QList<int>{2, 4};
        QTest::newRow("utf-16 be with bom")
            << utf16File(u"Молния,molnia,2\n", QStringConverter::Utf16BE)
            << QStringList{u"Молния"_s} << QStringList{u"molnia"_s} << QList<int>{2};
        QTest::newRow("utf-16 le, a second mark is text")
            << utf16File(u"\uFEFFA,a,1\r\n", QStringConverter::Utf16LE) << QStringList{u"\uFEFFA"_s}
            << QStringList{u"a"_s} << QList<int>{1};
        // A, a low surrogate alone, a pair, ",a", a high surrogate alone, ",1\r\n".
        QTest::newRow("utf-16 le, surrogates without their pair")
            << QByteArray::fromHex("fffe 4100 dfdf 3dd8 97de 2c00 6100 3dd8 2c00 3100 0d00 0a00")
            << QStringList{u"A\uFFFD\U0001F697"_s} << QStringList{u"a\uFFFD"_s} << QList<int>{1};
        QTest::newRow("utf-8 bom, then bytes that are not utf-8")
            << QByteArray("\xEF\xBB\xBF\xCC\xEE\xEB,a,1\n") << QStringList{u"\uFFFD\uFFFD\uFFFD"_s}
            << QStringList{u"a"_s} << QList<int>{1};
        QTest::newRow("cp1251") << QByteArray("\xCC\xEE\xEB\xED\xE8\xFF,molnia,2\n")
                                << QStringList{u"Молния"_s} << QStringList{u"molnia"_s}
                                << QList<int>{2};
        QTest::newRow("cp1251, beyond the alphabet")
            << QByteArray("\xA8\xB8\xB2\xB3 \xB9\x31 \xAB\x97\xBB,a,1\n")
            << QStringList{u"ЁёІі №1 «—»"_s} << QStringList{u"a"_s} << QList<int>{1};
        QTest::newRow("extra field starts next record")
            << QByteArray("A,a,1,B\nb,2\n") << QStringList{u"A"_s, u"B"_s}
            << QStringList{u"a"_s, u"b"_s} << QList<int>{1, 2};
        QTest::newRow("empty middle field") << QByteArray("A,,1\n") << QStringList{u"A"_s}
                                            << QStringList{QString()} << QList<int>{1};
    }
    void reads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, names);
        QFETCH(QStringList, models);
        QFETCH(QList<int>, colours);

        TempTree tree;
        const CarList cars = readCarList(m_files, tree.file(u"cars.txt"_s, file), m_host);

        QCOMPARE(cars.size(), names.size());
        for (qsizetype k = 0; k < cars.size(); ++k) {
            QCOMPARE(cars[k].name, names[k]);
            QCOMPARE(cars[k].model, models[k]);
            QCOMPARE(cars[k].colours, colours[k]);
        }
    }

    void fullTable()
    {
        TempTree tree;
        const CarList cars =
            readCarList(m_files, tree.file(u"cars.txt"_s, carRecords(MaxCars)), m_host);
        QCOMPARE(cars.size(), 1001);
        QCOMPARE(cars[1000].name, u"Car 1000"_s);
        QCOMPARE(cars[1000].model, u"car1000"_s);
    }

    // Each refusal names the file, and the line where the reader stopped.
    void errors_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: there is no file
        QTest::addColumn<ErrorKind>("kind");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<int>("line");

        QTest::newRow("missing file") << QByteArray() << ErrorKind::NotFound << QString() << 0;
        QTest::newRow("not a number")
            << QByteArray("A,a,1\nB,b,three\n") << ErrorKind::NotAnInteger << u"three"_s << 2;
        QTest::newRow("fraction") << QByteArray("A,a,1.5\n") << ErrorKind::NotAnInteger << u"1.5"_s
                                  << 1;
        QTest::newRow("empty number")
            << QByteArray("A,a,\nB,b,2\n") << ErrorKind::NotAnInteger << u"B"_s << 2;
        QTest::newRow("too big") << QByteArray("A,a,1\n\nB,b,32768\n") << ErrorKind::OutOfRange
                                 << u"32768"_s << 3;
        QTest::newRow("too small")
            << QByteArray("A,a,-32769\n") << ErrorKind::OutOfRange << u"-32769"_s << 1;
        QTest::newRow("huge") << QByteArray("A,a,99999999999999999999\n") << ErrorKind::OutOfRange
                              << u"99999999999999999999"_s << 1;
        // The line the missing field would start on.
        QTest::newRow("cut short after name")
            << QByteArray("A,a,1\nB\n") << ErrorKind::CutShort << QString() << 3;
        QTest::newRow("cut short after model")
            << QByteArray("A,a,1\nB,b,") << ErrorKind::CutShort << QString() << 2;
        QTest::newRow("utf-16 le, line of the error")
            << utf16File(u"A,a,1\r\nB,b,three\r\n", QStringConverter::Utf16LE)
            << ErrorKind::NotAnInteger << u"three"_s << 2;
        QTest::newRow("utf-16 le cut in a character")
            << utf16File(u"A,a,1\r\nB,b,22", QStringConverter::Utf16LE).chopped(1)
            << ErrorKind::NotAnInteger << u"2\uFFFD"_s << 2;
        QTest::newRow("1002 records")
            << carRecords(1002) << ErrorKind::TooManyRecords << u"1001"_s << 1002;
    }
    void errors()
    {
        QFETCH(QByteArray, file);
        QFETCH(ErrorKind, kind);
        QFETCH(QString, detail);
        QFETCH(int, line);

        TempTree tree;
        const QString path =
            file.isNull() ? tree.path(u"cars.txt"_s) : tree.file(u"cars.txt"_s, file);
        try {
            readCarList(m_files, path, m_host);
            QFAIL("the list must be refused");
        } catch (const runtime::RuntimeError &error) {
            QCOMPARE(error.error().kind, kind);
            QCOMPARE(error.error().detail, detail);
            QCOMPARE(error.error().line, line);
            QCOMPARE(error.error().path, path);
            const QString text = messages::carListError(error.error());
            QVERIFY2(text.contains(QDir::toNativeSeparators(path)) &&
                         (!line || text.contains(u"строка %1:"_s.arg(line))),
                     qPrintable(text));
        }
    }

    // Counts outside 1 to 4 show no boxes; the installer takes the first four colours at
    // most, and none for a count below 1.
    void colourUses_data()
    {
        QTest::addColumn<int>("colours");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<int>("installable");
        QTest::newRow("16-bit least") << -32768 << 0 << 0;
        QTest::newRow("negative") << -1 << 0 << 0;
        QTest::newRow("none") << 0 << 0 << 0;
        QTest::newRow("one") << 1 << 1 << 1;
        QTest::newRow("three") << 3 << 3 << 3;
        QTest::newRow("four") << 4 << 4 << 4;
        QTest::newRow("five") << 5 << 0 << 4;
        QTest::newRow("16-bit most") << 32767 << 0 << 4;
    }
    void colourUses()
    {
        QFETCH(int, colours);
        QFETCH(int, boxes);
        QFETCH(int, installable);
        const ColourUse use = colourUse(Car{u"A"_s, u"a"_s, colours});
        QCOMPARE(use.boxes, boxes);
        QCOMPARE(use.installable, installable);
    }

    void carListBesideProgram()
    {
        QVERIFY(carListPath().endsWith(u"\\cars.txt"_s));
        QVERIFY(carListPath().startsWith(QCoreApplication::applicationDirPath()));
    }
};

QTEST_GUILESS_MAIN(TestCarTable)
#include "tst_cartable.moc"
