// SPDX-License-Identifier: GPL-3.0-or-later
// The archive reader on any bytes: it either refuses them with one of the archive's errors,
// its reason short, or lists members whose paths a folder could hold or are marked as not,
// and reads every file among them within its limits, as often as it is asked, the same bytes
// each time.

#include "archive/archivereader.h"
#include "fuzzcheck.h"
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "texts/messages.h"

#include <QDir>
#include <QFile>
#include <unistd.h>

using namespace Qt::StringLiterals;
using runtime::ErrorKind;

namespace {

// Takes the data read, member by member.
struct Collected : archives::MemberSink
{
    QList<QByteArray> read;
    void begin(const archives::Member &) override { read.append(QByteArray()); }
    int data(const char *bytes, qint64 size) override
    {
        read.last().append(bytes, size);
        return 0;
    }
    void end(const archives::Member &) override {}
};

bool isArchiveError(ErrorKind kind)
{
    return kind == ErrorKind::NotAnArchive || kind == ErrorKind::Encrypted ||
           kind == ErrorKind::UnknownMethod || kind == ErrorKind::Damaged ||
           kind == ErrorKind::TooManyMembers || kind == ErrorKind::TooMuchData;
}

QList<QByteArray> readFiles(archives::ArchiveReader &reader)
{
    QSet<int> files;
    for (const archives::Member &m : reader.members()) {
        const QString path = m.components.join(u'/');
        FUZZ_CHECK(m.components.isEmpty() || (!m.components.contains(u".."_s) &&
                                              !path.contains(u'\\') && !path.contains(u':')),
                   m.path);
        if (m.kind == archives::Member::File)
            files.insert(m.index);
    }
    Collected sink;
    reader.read(files, sink);
    return sink.read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QByteArray path = QFile::encodeName(QDir::tempPath()) + "/quillmere-fuzz-" +
                                   QByteArray::number(qint64(getpid())) + ".archive";
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    runtime::HostFileSystem files;
    const archives::Limits limits{1000, 1 << 20, 1000};
    try {
        archives::ArchiveReader reader(files, path, u"car.zip"_s, limits);
        const QList<QByteArray> first = readFiles(reader);
        archives::ArchiveReader again(files, path, u"car.zip"_s, limits);
        FUZZ_CHECK(readFiles(again) == first, u"read twice, read differently"_s);
    } catch (const runtime::RuntimeError &error) {
        const QString reason = messages::reason(error.error());
        FUZZ_CHECK(isArchiveError(error.error().kind), reason);
        FUZZ_CHECK(reason.size() < 300, reason);
    }
    return 0;
}
