#include "catalogue/cartable.h"
#include "runtime/runtimeerror.h"
#include "testsupport.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QByteArray records(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "Car " + QByteArray::number(i) + ",car" + QByteArray::number(i) + ",2\r\n";
    return text;
}

} // namespace

class TestCarTable : public QObject
{
    Q_OBJECT

private slots:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("models");
        QTest::addColumn<QStringList>("colours");

        QTest::newRow("empty") << QByteArray() << QStringList() << QStringList() << QStringList();
        QTest::newRow("blank lines only")
            << QByteArray("\r\n  \n\n") << QStringList() << QStringList() << QStringList();
        QTest::newRow("one per line")
            << QByteArray("Wren Arrow,wren,4\nMarlow,marlow,1\n")
            << QStringList{u"Wren Arrow"_s, u"Marlow"_s} << QStringList{u"wren"_s, u"marlow"_s}
            << QStringList{u"4"_s, u"1"_s};
        QTest::newRow("no final newline") << QByteArray("A,a,2") << QStringList{u"A"_s}
                                          << QStringList{u"a"_s} << QStringList{u"2"_s};
        QTest::newRow("trailing blank lines")
            << QByteArray("A,a,2\r\n\r\n   \r\n\t\n") << QStringList{u"A"_s} << QStringList{u"a"_s}
            << QStringList{u"2"_s};
        QTest::newRow("quoted with comma")
            << QByteArray("\"Corvell, V16\",corvell,3\n") << QStringList{u"Corvell, V16"_s}
            << QStringList{u"corvell"_s} << QStringList{u"3"_s};
        QTest::newRow("spaces around fields")
            << QByteArray("  Wren Arrow  ,  wren  , 4 \n") << QStringList{u"Wren Arrow"_s}
            << QStringList{u"wren"_s} << QStringList{u"4"_s};
        QTest::newRow("record spans lines")
            << QByteArray("Wren\nwren\n3\nMarlow,\n marlow,\n1\n")
            << QStringList{u"Wren"_s, u"Marlow"_s} << QStringList{u"wren"_s, u"marlow"_s}
            << QStringList{u"3"_s, u"1"_s};
        QTest::newRow("duplicates kept")
            << QByteArray("Same,a,1\nSame,b,2\n") << QStringList{u"Same"_s, u"Same"_s}
            << QStringList{u"a"_s, u"b"_s} << QStringList{u"1"_s, u"2"_s};
        QTest::newRow("negative and signs")
            << QByteArray("A,a,-3\nB,b,+0\nC,c,0005\n") << QStringList{u"A"_s, u"B"_s, u"C"_s}
            << QStringList{u"a"_s, u"b"_s, u"c"_s} << QStringList{u"-3"_s, u"0"_s, u"5"_s};
        QTest::newRow("16-bit limits")
            << QByteArray("A,a,32767\nB,b,-32768\n") << QStringList{u"A"_s, u"B"_s}
            << QStringList{u"a"_s, u"b"_s} << QStringList{u"32767"_s, u"-32768"_s};
        QTest::newRow("utf8 with bom")
            << QByteArray("\xEF\xBB\xBFМолния,molnia,2\n") << QStringList{u"Молния"_s}
            << QStringList{u"molnia"_s} << QStringList{u"2"_s};
        QTest::newRow("cp1251") << QByteArray("\xCC\xEE\xEB\xED\xE8\xFF,molnia,2\n")
                                << QStringList{u"Молния"_s} << QStringList{u"molnia"_s}
                                << QStringList{u"2"_s};
        QTest::newRow("extra field starts next record")
            << QByteArray("A,a,1,B\nb,2\n") << QStringList{u"A"_s, u"B"_s}
            << QStringList{u"a"_s, u"b"_s} << QStringList{u"1"_s, u"2"_s};
        QTest::newRow("empty middle field") << QByteArray("A,,1\n") << QStringList{u"A"_s}
                                            << QStringList{QString()} << QStringList{u"1"_s};
    }
    void reads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, names);
        QFETCH(QStringList, models);
        QFETCH(QStringList, colours);

        TempTree tree;
        const QString path = tree.file(u"cars.txt"_s, file);
        auto table = std::make_unique<CarTable>();
        QStringList items;
        readCarList(path, *table, [&](const QString &name) { items.append(name); });

        QCOMPARE(table->CarCount, names.size());
        QCOMPARE(items, names);
        for (int k = 0; k < table->CarCount; ++k) {
            QCOMPARE(table->CarName[k], names[k]);
            QCOMPARE(table->CarModel[k], models[k]);
            QCOMPARE(table->CarColours[k], colours[k]);
        }
    }

    void fullTable()
    {
        TempTree tree;
        auto table = std::make_unique<CarTable>();
        readCarList(tree.file(u"cars.txt"_s, records(1001)), *table);
        QCOMPARE(table->CarCount, 1001);
        QCOMPARE(table->CarName[1000], u"Car 1000"_s);
        QCOMPARE(table->CarModel[1000], u"car1000"_s);
    }

    void errors_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected"); // a part of the message

        QTest::newRow("not a number")
            << QByteArray("A,a,1\nB,b,three\n") << u"строка 2: «three» не является целым числом"_s;
        QTest::newRow("fraction") << QByteArray("A,a,1.5\n") << u"строка 1: «1.5»"_s;
        QTest::newRow("empty number")
            << QByteArray("A,a,\nB,b,2\n") << u"«B» не является целым числом"_s;
        QTest::newRow("too big") << QByteArray("A,a,1\n\nB,b,32768\n")
                                 << u"строка 3: число 32768 вне допустимого диапазона"_s;
        QTest::newRow("too small") << QByteArray("A,a,-32769\n") << u"число -32769 вне"_s;
        QTest::newRow("huge") << QByteArray("A,a,99999999999999999999\n")
                              << u"вне допустимого диапазона"_s;
        QTest::newRow("cut short after name")
            << QByteArray("A,a,1\nB\n") << u"оборвана концом файла"_s;
        QTest::newRow("cut short after model")
            << QByteArray("A,a,1\nB,b,") << u"оборвана концом файла"_s;
        QTest::newRow("1002 records") << records(1002) << u"строка 1002: машин больше 1001"_s;
    }
    void errors()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);

        TempTree tree;
        const QString path = tree.file(u"cars.txt"_s, file);
        auto table = std::make_unique<CarTable>();
        try {
            readCarList(path, *table);
            QFAIL("the list must be refused");
        } catch (const runtime::RuntimeError &error) {
            QVERIFY2(error.message().contains(expected), qPrintable(error.message()));
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
        }
    }

    void missingFile()
    {
        TempTree tree;
        auto table = std::make_unique<CarTable>();
        try {
            readCarList(tree.path(u"cars.txt"_s), *table);
            QFAIL("a missing list must be refused");
        } catch (const runtime::RuntimeError &error) {
            QVERIFY2(error.message().contains(u"не найден"_s), qPrintable(error.message()));
        }
    }

    void carListBesideProgram()
    {
        QVERIFY(carListPath().endsWith(u"\\cars.txt"_s));
        QVERIFY(carListPath().startsWith(QCoreApplication::applicationDirPath()));
    }
};

QTEST_GUILESS_MAIN(TestCarTable)
#include "tst_cartable.moc"
