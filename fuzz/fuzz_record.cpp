// SPDX-License-Identifier: GPL-3.0-or-later
// The reader of install records on any bytes: it either refuses them as damaged (or as
// written by a newer version) with a short reason, or gives a record whose every change lies
// inside its game folder and whose kept files lie in its own folder; and a record it read,
// written back out, reads back the same.

#include "fuzzcheck.h"
#include "records/record.h"
#include "texts/recordtexts.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray folder = "/data/installs/1";
    records::InstallRecord record;
    try {
        record = records::fromJson(bytes, folder);
    } catch (const records::RecordsError &error) {
        const records::Error &e = error.error();
        const QString reason = messages::reason(e);
        FUZZ_CHECK(e.problem == records::Problem::Damaged || e.problem == records::Problem::Newer,
                   reason);
        FUZZ_CHECK(reason.size() < 300, reason);
        return 0;
    }
    const QByteArray inside =
        record.gameHost.endsWith('/') ? record.gameHost : record.gameHost + '/';
    for (const records::Change &change : record.changes) {
        const QByteArray target = '/' + change.target + '/';
        FUZZ_CHECK(change.target.startsWith(inside) && !target.contains("/../") &&
                       !target.contains("/./"),
                   QString::fromLatin1(change.target.toPercentEncoding("/")));
        FUZZ_CHECK(!change.kept.contains(u'/') && !change.kept.startsWith(u'.'), change.kept);
    }
    const records::InstallRecord again = records::fromJson(records::toJson(record), folder);
    FUZZ_CHECK(again == record, QString::fromUtf8(records::toJson(record)));
    return 0;
}
