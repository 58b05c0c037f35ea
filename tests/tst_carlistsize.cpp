#include "catalogue/cartable.h"
#include "runtime/runtimeerror.h"
#include "runtime/sequentialinput.h"
#include "testsupport.h"

#include <memory>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MB = 1024 * 1024;

// The most memory the process has held so far.
qint64 peakMemory()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

// The report for a list that must be refused; "" when it was read.
QString refusal(const QString &path)
{
    auto table = std::make_unique<CarTable>();
    try {
        readCarList(path, *table);
    } catch (const runtime::RuntimeError &error) {
        return error.message();
    }
    return QString();
}

} // namespace

// Car lists far beyond any real one end in the clear report, and are never read whole
// into memory.
class TestCarListSize : public QObject
{
    Q_OBJECT

private slots:
    // First, while the process is small, so that reading one would show in its peak.
    void hugeListsAreRefusedUnread_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<qint64>("size");
        // Growing sizes, so that each would raise the peak past the one before.
        QTest::newRow("one byte over the limit")
            << QByteArray("A,a,1\n") << runtime::SequentialInput::MaxFileSize + 1;
        QTest::newRow("one line of 100 MB") << QByteArray("\"Wren") << 100 * MB;
        QTest::newRow("hundreds of MB of records")
            << QByteArray("Wren Arrow,wren,4\r\nMarlow,marlow,2\r\n") << 400 * MB;
    }
    void hugeListsAreRefusedUnread()
    {
        QFETCH(QByteArray, start);
        QFETCH(qint64, size);
        TempTree tree;
        const QString path = tree.file(u"cars.txt"_s, start);
        {
            QFile file(path);
            QVERIFY(file.resize(size)); // the rest is a hole: no disk, no time
        }
        const qint64 before = peakMemory();
        const QString report = refusal(path);
        QVERIFY2(report.contains(u"слишком велик"_s), qPrintable(report));
        QVERIFY2(report.contains(path), qPrintable(report));
        QCOMPARE_LT(peakMemory() - before, 16 * MB);
    }

    // A file that never ends is read only up to the limit.
    void endlessFileIsRefused()
    {
        if (!QFileInfo::exists(u"/dev/zero"_s))
            QSKIP("no /dev/zero here");
        const qint64 before = peakMemory();
        const QString report = refusal(u"/dev/zero"_s);
        QVERIFY2(report.contains(u"слишком велик"_s), qPrintable(report));
        QCOMPARE_LT(peakMemory() - before, 4 * runtime::SequentialInput::MaxFileSize);
    }

    // The longest line that is read at all gets the usual report, naming its line and
    // quoting only the start of the field.
    void longestLineIsReported_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<char>("filler");
        QTest::addColumn<QString>("expected");
        QTest::newRow("number") << QByteArray("A,a,1\nCar,car,") << '7'
                                << u"строка 2: число 7777777777"_s;
        QTest::newRow("unclosed quote")
            << QByteArray("A,a,1\n\n\"Car") << 'x' << u"строка 3: запись оборвана"_s;
    }
    void longestLineIsReported()
    {
        QFETCH(QByteArray, start);
        QFETCH(char, filler);
        QFETCH(QString, expected);
        TempTree tree;
        QByteArray content = start;
        content.resize(runtime::SequentialInput::MaxFileSize, filler);
        const QString report = refusal(tree.file(u"cars.txt"_s, content));
        QVERIFY2(report.contains(expected), qPrintable(report.left(300)));
        QCOMPARE_LT(report.size(), 300);
    }
};

QTEST_GUILESS_MAIN(TestCarListSize)
#include "tst_carlistsize.moc"
