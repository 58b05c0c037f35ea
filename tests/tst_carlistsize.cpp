// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/cartable.h"
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/processinfo.h"
#include "runtime/sequentialinput.h"
#include "testsupport.h"
#include "texts/messages.h"

using namespace Qt::StringLiterals;
using runtime::ErrorKind;

namespace {

constexpr qint64 MB = 1024 * 1024;

// The most memory the process has held so far.
qint64 peakMemory()
{
    return runtime::peakResidentKiB() * 1024;
}

// Why a list was refused; Error() when it was read.
runtime::Error refusal(const QString &path)
{
    try {
        runtime::HostFileSystem files;
        readCarList(files, path, runtime::HostPaths());
    } catch (const runtime::RuntimeError &error) {
        return error.error();
    }
    return {};
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
        const auto error = refusal(path);
        QCOMPARE(error.kind, ErrorKind::TooLarge);
        QCOMPARE(error.path, path);
        QCOMPARE_LT(peakMemory() - before, 16 * MB);
    }

    // A file that never ends is read only up to the limit.
    void endlessFileIsRefused()
    {
        if (!QFileInfo::exists(u"/dev/zero"_s))
            QSKIP("no /dev/zero here");
        const qint64 before = peakMemory();
        const auto error = refusal(u"/dev/zero"_s);
        QCOMPARE(error.kind, ErrorKind::TooLarge);
        QCOMPARE_LT(peakMemory() - before, 4 * runtime::SequentialInput::MaxFileSize);
    }

    // The longest line that is read at all gets the usual report, naming its line and
    // quoting only the start of the field.
    void longestLineIsReported_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<char>("filler");
        QTest::addColumn<ErrorKind>("kind");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("quoted"); // the start of the detail
        QTest::newRow("number") << QByteArray("A,a,1\nCar,car,") << '7' << ErrorKind::OutOfRange
                                << 2 << u"7777777777"_s;
        QTest::newRow("unclosed quote")
            << QByteArray("A,a,1\n\n\"Car") << 'x' << ErrorKind::CutShort << 3 << QString();
    }
    void longestLineIsReported()
    {
        QFETCH(QByteArray, start);
        QFETCH(char, filler);
        QFETCH(ErrorKind, kind);
        QFETCH(int, line);
        QFETCH(QString, quoted);
        TempTree tree;
        QByteArray content = start;
        content.resize(runtime::SequentialInput::MaxFileSize, filler);
        const auto error = refusal(tree.file(u"cars.txt"_s, content));
        QCOMPARE(error.kind, kind);
        QCOMPARE(error.line, line);
        QVERIFY(error.detail.startsWith(quoted));
        QCOMPARE_LT(messages::carListError(error).size(), 300);
    }
};

QTEST_GUILESS_MAIN(TestCarListSize)
#include "tst_carlistsize.moc"
