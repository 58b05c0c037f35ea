// SPDX-License-Identifier: GPL-3.0-or-later
// The case a player meets each time a car is tried again: the car installed over itself,
// recorded to be undone, so that every file the install writes replaces one it keeps.
#include "bench.h"
#include "texts/messages.h"

#include <QDir>
#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace bench {

// Second names of the source textures, so that one cp copies the same bytes, from the same
// pages of the cache, to names the game folder does not hold yet.
QString Bench::againTextures() const
{
    return m_root + u"/src/again/"_s;
}

// The car stays installed; what a round added beside it goes: the records (but the newest,
// where the earlier install is to be recorded), whose kept files are the replaced copies of
// the car (freed with them), and the copies under fresh names.
void Bench::resetOver(const QString &game, bool earlierRecorded)
{
    const QDir installs(QFile::decodeName(m_recorded.dataFolder) + u"/installs"_s);
    QStringList records = installs.entryList({u"0*"_s}, QDir::Dirs, QDir::Name);
    if (earlierRecorded && !records.isEmpty())
        records.removeLast();
    for (const QString &record : std::as_const(records))
        QDir(installs.filePath(record)).removeRecursively();
    for (int d = 0; d < 2; ++d)
        for (int c = 0; c < 4; ++c)
            QFile::remove(game + u"/MODELS/again%1%2.4ds"_s.arg(d).arg(c));
    for (const QString &texture : m_textures)
        QFile::remove(game + u"/Maps/Again_"_s + texture);
    runShell(u"sync"_s);
}

// Those of the newest record.
qsizetype Bench::keptFiles() const
{
    const QDir installs(QFile::decodeName(m_recorded.dataFolder) + u"/installs"_s);
    const QStringList records = installs.entryList({u"0*"_s}, QDir::Dirs, QDir::Name);
    return records.isEmpty() ? 0
                             : QDir(installs.filePath(records.last()))
                                   .entryList({u"kept-*"_s}, QDir::Files)
                                   .size();
}

Bench::OverItself Bench::overItself(const QString &game, bool earlierRecorded)
{
    QDir().mkpath(againTextures());
    for (const QString &texture : m_textures) {
        const QByteArray from = QFile::encodeName(maps() + texture);
        const QByteArray to = QFile::encodeName(againTextures() + u"Again_"_s + texture);
        if (::link(from.constData(), to.constData()) != 0 && errno != EEXIST)
            qFatal("cannot link %s", to.constData());
    }
    // The earlier install: the state every round starts from is the car there, and its
    // record or none.
    clean(game);
    const InstallRequest form = request(game, model(), maps());
    InstallOutcome outcome = InstallCar(form, m_files, m_recorded, &m_records);
    if (!outcome.installed())
        qFatal("install failed: %s", qPrintable(closingMessage(outcome).text));

    const QString fresh = copyScript(game, u"again"_s, againTextures(), true);
    const QString same = copyScript(game, u"bench"_s, maps(), true);
    const auto reset = [&] {
        resetOver(game, earlierRecorded);
    };
    QList<double> install, freshNames, sameFiles;
    for (int round = 0; round < m_rounds; ++round) {
        install.append(
            timed(1, reset, [&] { outcome = InstallCar(form, m_files, m_recorded, &m_records); }));
        // Every file it wrote replaced one of the car's, which the record must keep: else
        // this would time a lighter install than the one meant.
        const qsizetype kept = keptFiles();
        if (!outcome.installed() || outcome.written != 8 + m_textures.size() ||
            kept != outcome.written)
            qFatal("install over the car: %d written, %lld kept: %s", outcome.written,
                   static_cast<long long>(kept), qPrintable(closingMessage(outcome).text));
        freshNames.append(timed(1, reset, [&] { runShell(fresh); }));
        sameFiles.append(timed(1, reset, [&] { runShell(same); }));
    }
    return {median(install), median(freshNames), median(sameFiles)};
}

} // namespace bench
