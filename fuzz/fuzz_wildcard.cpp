// SPDX-License-Identifier: GPL-3.0-or-later
// The wildcard matcher against a plain reference: a table of which suffix of the name
// matches which suffix of the pattern. Input: the name, a zero byte, the pattern (UTF-8).

#include "fuzzcheck.h"
#include "runtime/listing.h"

#include <vector>

using namespace Qt::StringLiterals;

namespace {

// `*` any run of characters, `?` exactly one, anything else itself; both texts case-folded.
bool referenceGlob(const QString &name, const QString &pattern)
{
    const qsizetype n = name.size(), p = pattern.size();
    // tail[i][j]: name from i on matches pattern from j on.
    std::vector<std::vector<char>> tail(size_t(n + 1), std::vector<char>(size_t(p + 1), 0));
    tail[n][p] = 1;
    for (qsizetype j = p - 1; j >= 0 && pattern[j] == u'*'; --j)
        tail[n][j] = 1;
    for (qsizetype i = n - 1; i >= 0; --i) {
        for (qsizetype j = p - 1; j >= 0; --j) {
            if (pattern[j] == u'*')
                tail[i][j] = tail[i][j + 1] || tail[i + 1][j];
            else if (pattern[j] == u'?' || pattern[j] == name[i])
                tail[i][j] = tail[i + 1][j + 1];
        }
    }
    return tail[0][0];
}

bool reference(const QString &name, const QString &pattern)
{
    const QString n = name.toCaseFolded();
    const QString p = pattern.toCaseFolded();
    if (referenceGlob(n, p))
        return true;
    // A pattern ending in "." and stars also stands for the name with no extension.
    qsizetype end = p.size();
    while (end > 0 && p[end - 1] == u'*')
        --end;
    return end < p.size() && end > 0 && p[end - 1] == u'.' && referenceGlob(n, p.first(end - 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype zero = bytes.indexOf('\0');
    if (zero < 0 || size > 300)
        return 0;
    const QString name = QString::fromUtf8(bytes.first(zero));
    const QString pattern = QString::fromUtf8(bytes.sliced(zero + 1));
    const QString both = name + u" ~ "_s + pattern;

    const bool matches = runtime::matchesWildcard(name, pattern);
    FUZZ_CHECK(matches == reference(name, pattern), both);

    FUZZ_CHECK(runtime::matchesWildcard(name, u"*"_s), name);
    if (!runtime::hasWildcard(pattern)) {
        // Without wildcards a pattern is a name, equal case-blind as the file lookup has it.
        FUZZ_CHECK(matches == (QString::compare(name, pattern, Qt::CaseInsensitive) == 0), both);
    }
    return 0;
}
