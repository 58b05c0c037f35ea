#include "runtime/listing.h"

#include "runtime/hostpath.h"
#include "runtime/runtimeerror.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

struct DirCloser
{
    void operator()(DIR *d) const { ::closedir(d); }
};

bool isOrdinaryFile(const QByteArray &hostPath)
{
    struct stat st;
    return ::stat(hostPath.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Glob matching over case-folded text, backtracking to the last star.
bool globMatch(QStringView name, QStringView pattern)
{
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        // A star is always a wildcard, even facing a star in the name.
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
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

bool matchesWildcard(const QString &name, const QString &pattern)
{
    const QString n = caseKey(name);
    const QString p = caseKey(pattern);
    if (globMatch(n, p))
        return true;
    // "name.*" also stands for "name" with no extension at all.
    qsizetype end = p.size();
    while (end > 0 && p[end - 1] == u'*')
        --end;
    if (end < p.size() && end > 0 && p[end - 1] == u'.')
        return globMatch(n, QStringView(p).first(end - 1));
    return false;
}

QString Listing::first(const QString &pattern)
{
    m_names = all(pattern);
    m_next = 0;
    return next();
}

QString Listing::next()
{
    if (m_next >= m_names.size())
        return QString();
    return m_names[m_next++];
}

QStringList Listing::all(const QString &pattern)
{
    const SplitPath path = splitPath(pattern);
    const bool wholeFolder = path.trailingSeparator;
    const qsizetype folderCount = path.components.size() - (wholeFolder ? 0 : 1);
    for (qsizetype i = 0; i < path.components.size(); ++i) {
        const QString &component = path.components[i];
        if (i < folderCount && hasWildcard(component))
            throw RuntimeError(
                u"Знаки подстановки допустимы только в имени файла: «%1»"_s.arg(pattern));
        if (!hasWildcard(component))
            checkComponent(component);
    }
    if (!wholeFolder && path.components.isEmpty())
        return {};

    const auto folder = resolveComponents(path, folderCount);
    if (!folder)
        return {};

    const QString last = wholeFolder ? QString() : path.components.back();
    if (!wholeFolder && !hasWildcard(last)) {
        const auto entry = findEntry(*folder, last);
        if (!entry || entry->startsWith('.') || !isOrdinaryFile(joinHost(*folder, *entry)))
            return {};
        return {decodeName(*entry)};
    }

    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder->constData()));
    if (!dir)
        return {};
    struct Found
    {
        QString key;
        QString name;
    };
    std::vector<Found> found;
    const QString foldedPattern = caseKey(last);
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        const QString name = decodeName(entry->d_name);
        if (!wholeFolder && !matchesWildcard(name, foldedPattern))
            continue;
        if (entry->d_type != DT_REG && !isOrdinaryFile(joinHost(*folder, entry->d_name)))
            continue;
        found.push_back({caseKey(name), name});
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return a.key != b.key ? a.key < b.key : a.name < b.name;
    });
    QStringList names;
    names.reserve(qsizetype(found.size()));
    for (auto &f : found)
        names.append(std::move(f.name));
    return names;
}

} // namespace runtime
