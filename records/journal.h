// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/record.h"
#include "records/store.h"
#include "runtime/filesession.h"

#include <QHash>
#include <optional>

namespace records {

// Records an install as it goes: its record's folder is begun before the first copy, what
// the copies replace is kept as they are made, and the record is written whole once, before
// the first of them takes its place. A file that cannot be kept is recorded as such, with
// the reason, and the install goes on. When the record cannot be written, the install goes
// on without it: its folder is marked so before anything is replaced, or, where not even
// that can be done, taken away with what it kept.
class InstallJournal : public runtime::ChangeJournal
{
public:
    InstallJournal(const Store &store, InstallRecord header);
    ~InstallJournal() override;

    Wanted replacing(const Copy &copy) override;
    void madeFolder(const QString &destination, const QByteArray &path) override;
    void readingArchive(const runtime::ArchiveOrigin &archive) override;
    QByteArray folder() const override;
    void flushEach() override;
    void write(const runtime::Digests &digests) override;

    // The install is over: the record of an install that changed nothing goes.
    void finish(bool wroteAny);

private:
    QString shown(const QString &destination) const;
    std::optional<FolderId> linkedFolder(const QByteArray &target);
    void keep(Change &change, const runtime::FileStatus &entry);
    Wanted known(Change &change);
    int archiveIndex(const QByteArray &host);
    bool sameSource(const Change &before, const Change &change) const;

    const Store &m_store;
    runtime::FileSystem &m_files;
    InstallRecord m_record;
    runtime::Fd m_held; // the record's folder, while the install runs
    QHash<QByteArray, std::optional<FolderId>> m_linkedFolders; // by folder
    bool m_begun = false;                                       // the record's folder is there
    bool m_written = false;                                     // the record is whole in it
    std::optional<Error> m_unwritable;                          // why no record can be kept
    QList<QByteArray> m_copies; // kept files that are copies, to flush
    // What the game folder's install before this one wrote, by target.
    QHash<QByteArray, Change> m_before;
    QList<Archive> m_archivesBefore; // the archives it read
};

} // namespace records
