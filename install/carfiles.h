// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/archivetree.h"
#include "runtime/error.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <unordered_map>

namespace runtime {
class FileSession;
} // namespace runtime

// The car's files where the player named them: in folders on the disk, or in an archive read
// as a folder ("C:\Downloads\wren.zip\Wren Arrow\Maps"). Each archive is listed once.
class CarFiles
{
public:
    explicit CarFiles(runtime::FileSession &session);
    ~CarFiles();

    // As runtime::Listing: the ordinary files a pattern names, sorted case-blind; whether
    // there is one. Throws RuntimeError, an archive's own errors included.
    QStringList all(const QString &pattern);
    bool any(const QString &pattern) { return !all(pattern).isEmpty(); }

    // The archive a path passes through, with the member it names; none for a path on the
    // disk.
    struct InArchive
    {
        archives::ArchiveReader *reader;
        int member;
        QString archiveShown;   // the archive's path as the player first wrote it
        QByteArray archiveHost; // and the host path it named
    };
    std::optional<InArchive> member(const QString &path);

private:
    struct Archive
    {
        std::unique_ptr<archives::ArchiveReader> reader;
        std::unique_ptr<archives::ArchiveTree> tree;
        QString shown;
        QByteArray host;
    };
    // The archive of a place that `path` names.
    Archive *archiveOf(const archives::ArchivePlace &place, const QString &path);

    runtime::FileSession &m_session;
    std::unordered_map<QByteArray, Archive> m_archives; // by the archive's device and number
};

// Whether an error is an archive's own: one that no check's message would explain.
bool isArchiveError(const runtime::Error &error);
