// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/listing.h"

#include "runtime/error.h"
#include "runtime/hostpath.h"

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

// Glob matching of a name against a case-folded pattern, folding the name as it goes and
// backtracking to the last star.
bool globMatch(QStringView name, QStringView pattern)
{
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        // A star is always a wildcard, even facing a star in the name.
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n] ||
                                          pattern[p] == name[n].toCaseFolded())) {
            ++n, ++p;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool hasWildcard(const QString &text)
{
    return text.contains(u'*') || text.contains(u'?');
}

Wildcard::Wildcard(const QString &pattern) : m_pattern(caseKey(pattern))
{
    // "name.*" also stands for "name" with no extension at all.
    qsizetype end = m_pattern.size();
    while (end > 0 && m_pattern[end - 1] == u'*')
        --end;
    if (end < m_pattern.size() && end > 0 && m_pattern[end - 1] == u'.')
        m_withoutExtension = m_pattern.first(end - 1);
}

bool Wildcard::matches(QStringView name) const
{
    return globMatch(name, m_pattern) ||
           (!m_withoutExtension.isNull() && globMatch(name, m_withoutExtension));
}

bool matchesWildcard(const QString &name, const QString &pattern)
{
    return Wildcard(pattern).matches(name);
}

QStringList Listing::all(const QString &pattern, const HostPaths &host, FolderIndex &folders)
{
    return collect(pattern, host, false, folders);
}

bool Listing::any(const QString &pattern, const HostPaths &host, FolderIndex &folders)
{
    return !collect(pattern, host, true, folders).isEmpty();
}

QStringList Listing::collect(const QString &pattern, const HostPaths &host, bool firstFound,
                             FolderIndex &folders)
{
    const SplitPath path = splitPath(pattern, host);
    const bool wholeFolder = path.trailingSeparator;
    const qsizetype folderCount = path.components.size() - (wholeFolder ? 0 : 1);
    for (qsizetype i = 0; i < path.components.size(); ++i) {
        const QString &component = path.components[i];
        if (i < folderCount && hasWildcard(component))
            raise(ErrorKind::WildcardInFolder, Operation::Resolve, pattern);
        if (!hasWildcard(component))
            checkComponent(component);
    }
    if (!wholeFolder && path.components.isEmpty())
        return {};

    const auto folder = resolveComponents(path, folders, folderCount);
    if (!folder)
        return {};

    const QString last = wholeFolder ? QString() : path.components.back();
    if (!wholeFolder && !hasWildcard(last)) {
        const auto entry = findEntry(*folder, last, folders);
        if (!entry || entry->startsWith('.') ||
            !isOrdinaryFile(folders.files(), joinHost(*folder, *entry)))
            return {};
        return {decodeName(*entry)};
    }

    QStringList found;
    const Wildcard wildcard(last);
    // Names starting with "." are hidden; links and unknown kinds are asked what they are.
    const auto consider = [&](const char *raw, bool regular, bool unknown) {
        if (raw[0] == '.' || (!regular && !unknown))
            return false;
        QString name = decodeName(raw);
        if (!wholeFolder && !wildcard.matches(name))
            return false;
        if (!regular && !isOrdinaryFile(folders.files(), joinHost(*folder, raw)))
            return false;
        found.append(std::move(name));
        return firstFound;
    };

    const auto *entries = folders.entries(*folder);
    if (!entries)
        return {};
    for (const auto &entry : *entries) {
        if (consider(entry.name, entry.kind == FolderEntry::File,
                     entry.kind == FolderEntry::Unknown))
            break;
    }
    sortCaseBlind(found);
    return found;
}

} // namespace runtime
