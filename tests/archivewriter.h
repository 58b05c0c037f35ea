// SPDX-License-Identifier: GPL-3.0-or-later
// Archives for the tests, written with libarchive's writer.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>

namespace testarchive {

struct Entry
{
    QByteArray name; // ASCII as it is stored; beyond it, UTF-8 for the writer to convert
    QByteArray data;
    enum Kind
    {
        File,
        Folder,
        Link,
        SecondName, // a hard link to the entry named by `data`
    } kind = File;
};

// Writes `entries` to `path` in the format libarchive names ("zip", "7zip"), with its
// writer's options ("zip:compression=store"), encrypted with `passphrase` where given: true
// when written whole.
inline bool write(const QByteArray &path, const char *format, const QList<Entry> &entries,
                  const char *options = nullptr, const char *passphrase = nullptr)
{
    struct archive *a = archive_write_new();
    bool written = archive_write_set_format_by_name(a, format) == ARCHIVE_OK &&
                   (!options || archive_write_set_options(a, options) == ARCHIVE_OK) &&
                   (!passphrase || archive_write_set_passphrase(a, passphrase) == ARCHIVE_OK) &&
                   archive_write_open_filename(a, path.constData()) == ARCHIVE_OK;
    for (const Entry &e : entries) {
        if (!written)
            break;
        struct archive_entry *entry = archive_entry_new();
        // Names beyond ASCII go in as text, which the writer converts as its format has it.
        if (std::all_of(e.name.begin(), e.name.end(), [](char c) { return uchar(c) < 0x80; }))
            archive_entry_copy_pathname(entry, e.name.constData());
        else
            archive_entry_copy_pathname_w(entry, QString::fromUtf8(e.name).toStdWString().c_str());
        const bool data = e.kind == Entry::File;
        archive_entry_set_filetype(entry, e.kind == Entry::Folder ? AE_IFDIR
                                          : e.kind == Entry::Link ? AE_IFLNK
                                                                  : AE_IFREG);
        archive_entry_set_perm(entry, e.kind == Entry::Folder ? 0755 : 0644);
        if (e.kind == Entry::Link)
            archive_entry_copy_symlink(entry, e.data.constData());
        if (e.kind == Entry::SecondName)
            archive_entry_copy_hardlink(entry, e.data.constData());
        archive_entry_set_size(entry, data ? e.data.size() : 0);
        written = archive_write_header(a, entry) == ARCHIVE_OK &&
                  (!data || e.data.isEmpty() ||
                   archive_write_data(a, e.data.constData(), size_t(e.data.size())) ==
                       la_ssize_t(e.data.size()));
        archive_entry_free(entry);
    }
    written = archive_write_close(a) == ARCHIVE_OK && written;
    archive_write_free(a);
    return written;
}

} // namespace testarchive
