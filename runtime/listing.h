// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace runtime {

class FolderIndex;
struct HostPaths;

// True when `name` matches the wildcard pattern case-blind, with the Windows meaning:
// `*` is any run of characters, `?` one character, and a pattern ending in ".*" also
// matches a name without that dot ("*.*" matches every name).
bool matchesWildcard(const QString &name, const QString &pattern);

// A wildcard pattern prepared once for matching many names.
class Wildcard
{
public:
    explicit Wildcard(const QString &pattern);
    bool matches(QStringView name) const;

private:
    QString m_pattern;          // case-folded
    QString m_withoutExtension; // for "name.*": "name"; else null
};

bool hasWildcard(const QString &text);

// The listing service: the bare names of the ordinary files that match a pattern.
//
// A pattern that ends in a separator lists the folder's ordinary files; wildcards may
// stand in the last component only; a plain path lists that one file. Ordinary files are
// regular files or links to them whose names do not start with "." Names come sorted
// case-blind. A folder that does not exist lists nothing.
//
// Throws RuntimeError on an unready drive, a wildcard in a folder component, a NUL
// character, a component longer than the file system allows, or an ambiguous name.
// Relative patterns start at the host's current folder.
//
// Folders are read through the index.
class Listing
{
public:
    // Every match of a pattern at once, in listing order.
    static QStringList all(const QString &pattern, const HostPaths &host, FolderIndex &folders);

    // Whether the pattern matches anything: all() would not be empty. Stops at the first
    // match.
    static bool any(const QString &pattern, const HostPaths &host, FolderIndex &folders);

private:
    static QStringList collect(const QString &pattern, const HostPaths &host, bool firstFound,
                               FolderIndex &folders);
};

} // namespace runtime
