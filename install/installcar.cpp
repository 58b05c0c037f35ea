// SPDX-License-Identifier: GPL-3.0-or-later
#include "install/installcar.h"

#include "archive/archivedigest.h"
#include "install/carfiles.h"
#include "records/journal.h"
#include "records/lock.h"
#include "runtime/filesession.h"
#include "runtime/hostpath.h"
#include "runtime/listing.h"
#include "runtime/textconv.h"

#include <QHash>
#include <QScopeGuard>
#include <QStringList>
#include <algorithm>

using namespace Qt::StringLiterals;
using runtime::FileSession;
using runtime::Listing;
using runtime::RuntimeError;

namespace {

// A check whose test cannot even be made (a drive that is not there, a name that is too
// long) counts as failed; an archive that cannot be read is an error of its own.
template <typename Test> bool passes(Test test)
{
    try {
        return test();
    } catch (const RuntimeError &error) {
        if (isArchiveError(error.error()))
            throw;
        return false;
    }
}

// The first check that fails, none when all pass; then the chosen colours are recorded.
std::optional<Check> failedCheck(const InstallRequest &request, InstallOutcome &outcome,
                                 FileSession &session, CarFiles &car)
{
    const auto listed = [&](const QString &pattern) {
        return passes([&] { return car.any(pattern); });
    };
    // The Maps folder always ends in a separator from here on, also in the field. The game
    // folder is never an archive.
    const QString &maps = outcome.mapsFolder;
    if (request.gameFolder.isEmpty() || !passes([&] {
            return Listing::any(request.gameFolder + u"/a0.dta"_s, session.host(),
                                session.folders());
        }))
        return Check::GameFolder;
    if (!listed(request.modelFile))
        return Check::ModelFile;
    // A blank field names no folder; as a path it would be the root or the current folder.
    if (request.mapsFolder.trimmed().isEmpty() || !listed(maps + u"\\"_s))
        return Check::MapsFolder;
    // Both listings are made, as the player may have either kind of texture.
    const bool bmp = listed(maps + u"\\*.bmp"_s);
    const bool tga = listed(maps + u"\\*.tga"_s);
    if (!bmp && !tga)
        return Check::Textures;
    if (!request.car)
        return Check::Car;
    const auto &boxes = request.colourBoxes;
    if (std::all_of(boxes.begin(), boxes.end(), [](int value) { return value == 0; }))
        return Check::Colours;

    ColourSelection colours{};
    for (int box = 0; box < 4; ++box)
        colours[box] = boxes[box] == 1;
    outcome.colours = colours;
    return std::nullopt;
}

// What the copying did, kept in an outcome: each file written, and each file or folder
// that could not be.
class InstallReport
{
public:
    InstallReport(const QString &gameFolder, InstallProgress *progress, int total,
                  FileSession &session)
        : m_gameFolder(gameFolder), m_progress(progress), m_total(total), m_session(session)
    {}

    // Runs one copy; a copy that fails is recorded and the install goes on. An archive's own
    // error breaks the install off.
    template <typename Step> void attempt(const QString &target, Step step)
    {
        announce(target);
        try {
            step();
            m_entries.append({target, std::nullopt, true});
        } catch (const RuntimeError &error) {
            if (isArchiveError(error.error()))
                throw;
            m_entries.append({target, error.error(), true});
        }
    }
    // The same in steps, for a copy streamed from an archive.
    void announce(const QString &target)
    {
        if (m_progress)
            m_progress->copying(m_done, std::max(m_total, m_done + 1), shown(target));
        ++m_done;
    }
    void copied(const QString &target, const std::optional<runtime::Error> &error)
    {
        m_entries.append({target, error, true});
    }

    void failed(const QString &target, const runtime::Error &error)
    {
        m_entries.append({target, error, false});
    }

    // Puts the copies in place; those that cannot be are failures after all.
    void commit()
    {
        if (m_progress)
            m_progress->writingOut();
        for (const auto &failure : m_session.commit()) {
            const auto it = std::find_if(m_entries.rbegin(), m_entries.rend(), [&](const Entry &e) {
                return !e.error && e.target == failure.destination;
            });
            if (it != m_entries.rend())
                it->error = failure.error;
            else
                failed(failure.destination, failure.error);
        }
    }

    void finish(InstallOutcome &outcome) const
    {
        for (const Entry &entry : m_entries) {
            if (entry.error)
                outcome.notWritten.append({shown(entry.target), *entry.error});
            else if (entry.isFile)
                ++outcome.written;
        }
    }

private:
    // Targets are named from the game folder on, as the player knows them.
    QString shown(const QString &target) const
    {
        return target.startsWith(m_gameFolder) ? target.mid(m_gameFolder.size()).remove(0, 1)
                                               : target;
    }

    struct Entry
    {
        QString target;
        std::optional<runtime::Error> error; // none when written
        bool isFile;
    };

    QString m_gameFolder;
    InstallProgress *m_progress;
    int m_total;
    FileSession &m_session;
    int m_done = 0;
    QList<Entry> m_entries;
};

// Creates a folder found empty or missing. One that exists already, as the creation
// then fails to find out, is not a failure: the files go into it as they are.
void makeFolderIfNeeded(InstallReport &report, FileSession &session, const QString &listed,
                        const QString &folder)
{
    const auto exists = [&](const QString &path) {
        return passes([&] {
            const auto host = runtime::resolveExisting(path, session.host(), session.folders());
            return host && runtime::isFolder(session.folders().files(), *host);
        });
    };
    if (passes([&] { return Listing::any(listed, session.host(), session.folders()); }))
        return;
    try {
        session.makeFolder(folder);
    } catch (const RuntimeError &error) {
        if (!exists(folder))
            report.failed(folder, error.error());
    }
}

// The number of files the install will write, for its progress.
int filesToWrite(const Car &car, const ColourSelection &selected, const QString &maps,
                 CarFiles &files)
{
    const int colours = colourUse(car).installable;
    int count = 2 * int(std::count(selected.begin(), selected.begin() + colours, true));
    try {
        count += int(files.all(maps).size());
    } catch (const RuntimeError &) {
    }
    return count;
}

// Streams an archive's members into the game: each to the first of its targets that takes
// it; the others are copied from that copy afterwards (`first`).
class ToGame : public archives::MemberSink
{
public:
    ToGame(FileSession &session, InstallReport &report, const QHash<int, QStringList> &targets,
           const QByteArray &archive)
        : m_session(session), m_report(report), m_targets(targets), m_archive(archive)
    {}
    QHash<int, QString> first;           // member -> the target it was streamed to
    QHash<int, runtime::Error> failures; // member -> why the last target tried did not take it
    QSet<QString> tried;                 // the targets written to, or failed

    void begin(const archives::Member &member) override
    {
        m_member = member.index;
        for (const QString &target : m_targets.value(member.index)) {
            m_report.announce(target);
            m_current = target;
            tried.insert(target);
            if (step([&] { m_session.beginCopy(target); }))
                return;
        }
    }
    int data(const char *bytes, qint64 size) override
    {
        if (!m_current.isEmpty())
            step([&] { m_session.appendCopy(bytes, size); });
        return 0;
    }
    void end(const archives::Member &member) override
    {
        const runtime::MemberOrigin origin{m_archive, member.path, member.size};
        if (!m_current.isEmpty() && step([&] { m_session.endCopy(origin); })) {
            m_report.copied(m_current, std::nullopt);
            first.insert(member.index, m_current);
        }
    }

private:
    template <typename Step> bool step(Step work)
    {
        try {
            work();
            return true;
        } catch (const RuntimeError &error) {
            m_report.copied(m_current, error.error());
            failures.insert(m_member, error.error());
            m_current.clear();
            return false;
        }
    }

    FileSession &m_session;
    InstallReport &m_report;
    const QHash<int, QStringList> &m_targets;
    QByteArray m_archive; // its host path
    int m_member = -1;
    QString m_current; // the target streamed to now
};

// The copies of one source: from the disk one by one, or from an archive, gathered for one
// reading of it.
class Copies
{
public:
    Copies(FileSession &session, InstallReport &report, CarFiles &files)
        : m_session(session), m_report(report), m_files(files)
    {}
    void add(const QString &source, const QString &target)
    {
        std::optional<CarFiles::InArchive> in;
        try {
            in = m_files.member(source);
        } catch (const RuntimeError &error) {
            if (isArchiveError(error.error()))
                throw;
            const runtime::Error failed = error.error();
            m_report.attempt(target, [&] { throw RuntimeError(failed); });
            return;
        }
        if (in)
            archiveOf(*in).targets[in->member].append(target);
        else
            m_report.attempt(target, [&] { m_session.copyFile(source, target); });
    }
    // Reads each archive once, in the order they were first met; a model wanted under
    // several names is unpacked once.
    void fromArchives()
    {
        for (const Archive &archive : std::as_const(m_archives)) {
            const QHash<int, QStringList> &targets = archive.targets;
            runtime::ArchiveOrigin origin{archive.in.archiveShown, archive.in.archiveHost, {}};
            m_session.folders().files().status(origin.host, origin.status);
            m_session.readingArchive(origin);
            ToGame sink(m_session, m_report, targets, origin.host);
            // The digest, for the record only.
            archives::ArchiveDigest digest(m_session.folders().files());
            archive.in.reader->setWatcher(m_session.journaled() ? &digest : nullptr);
            const auto unwatched = qScopeGuard([&] { archive.in.reader->setWatcher(nullptr); });
            archive.in.reader->read(QSet<int>(targets.keyBegin(), targets.keyEnd()), sink);
            m_session.archiveDigest(origin.host, digest.digest());
            for (auto member = targets.begin(); member != targets.end(); ++member) {
                const QString first = sink.first.value(member.key());
                for (const QString &target : member.value()) {
                    if (sink.tried.contains(target))
                        continue;
                    m_report.attempt(target, [&] {
                        if (first.isEmpty())
                            throw RuntimeError(sink.failures.value(member.key()));
                        m_session.copyFile(first, target);
                    });
                }
            }
        }
    }

private:
    struct Archive
    {
        CarFiles::InArchive in;
        QHash<int, QStringList> targets; // member -> the targets it goes to
    };
    Archive &archiveOf(const CarFiles::InArchive &in)
    {
        for (Archive &known : m_archives) {
            if (known.in.reader == in.reader)
                return known;
        }
        return m_archives.emplace_back(Archive{in, {}});
    }

    FileSession &m_session;
    InstallReport &m_report;
    CarFiles &m_files;
    QList<Archive> m_archives; // in the order first met
};

void copyFiles(const InstallRequest &request, InstallProgress *progress, FileSession &session,
               CarFiles &files, InstallOutcome &outcome)
{
    const Car &car = *request.car;
    const QString &G = request.gameFolder;
    const QString &maps = outcome.mapsFolder;
    const ColourSelection &ColourSelected = *outcome.colours;
    const int total = progress ? filesToWrite(car, ColourSelected, maps, files) : 0;
    InstallReport report(G, progress, total, session);
    Copies copies(session, report, files);

    makeFolderIfNeeded(report, session, G + u"\\MODELS\\"_s, G + u"\\MODELS\\"_s);

    const int colours = colourUse(car).installable;
    static const QString digits[] = {u"0"_s, u"1"_s, u"2"_s, u"3"_s};
    for (int i = 0; i < colours; ++i) {
        if (!ColourSelected[i])
            continue;
        for (const QString &d : {digits[0], digits[1]})
            copies.add(request.modelFile,
                       G + u"\\models\\"_s + car.model + d + digits[i] + u".4ds"_s);
    }

    makeFolderIfNeeded(report, session, G + u"\\maps\\"_s, G + u"\\maps"_s);

    QStringList textures;
    try {
        textures = files.all(maps);
    } catch (const RuntimeError &error) {
        report.failed(maps, error.error());
    }
    // Two textures whose names differ only in case are one file to the game: the first is
    // installed, and the second is reported rather than silently put over it.
    QHash<QString, QString> installedNames;
    for (const QString &f : textures) {
        const QString target = G + u"\\maps\\"_s + f;
        const QString first = installedNames.value(runtime::caseKey(f));
        if (!first.isNull()) {
            report.attempt(target, [&] {
                runtime::raise(runtime::ErrorKind::NameTaken, runtime::Operation::Copy, target,
                               first);
            });
            continue;
        }
        installedNames.insert(runtime::caseKey(f), f);
        copies.add(maps + f, target);
    }
    copies.fromArchives();
    // Models and textures reach the disk together.
    report.commit();
    report.finish(outcome);
}

// Begins the record of an install into the game folder, holding its turn; none where the
// folder cannot be found again or its turn taken.
void beginRecord(const InstallRequest &request, const InstallOutcome &outcome, FileSession &session,
                 const records::Store &records, records::FolderLock &lock,
                 std::optional<records::InstallJournal> &journal)
{
    std::optional<QByteArray> game;
    try {
        game = runtime::resolveExisting(request.gameFolder, session.host(), session.folders());
    } catch (const RuntimeError &) {
    }
    runtime::FileStatus status;
    if (!game || records.files().status(*game, status) != 0 || lock.take(records, status) != 0)
        return;
    records::InstallRecord header;
    header.when = QDateTime::currentDateTimeUtc();
    header.gameFolder = request.gameFolder;
    header.gameHost = *game;
    header.car = request.car->name;
    header.carModel = request.car->model;
    for (int colour = 0; colour < 4; ++colour) {
        if ((*outcome.colours)[colour])
            header.colours.append(colour + 1);
    }
    journal.emplace(records, std::move(header));
}

// The folder of programs the game folder is in, if any: why its files may be refused.
std::optional<runtime::GuardedFolder> guardedGame(const InstallRequest &request,
                                                  runtime::FileSystem &files, FileSession &session)
{
    try {
        if (const auto game =
                runtime::resolveExisting(request.gameFolder, session.host(), session.folders()))
            return runtime::guardedFolder(files, session.host().programFiles, *game);
    } catch (const RuntimeError &) {
    }
    return std::nullopt;
}

} // namespace

InstallOutcome InstallCar(const InstallRequest &request, runtime::FileSystem &files,
                          const runtime::HostPaths &host, const records::Store *records,
                          InstallProgress *progress)
{
    InstallOutcome outcome;
    outcome.mapsFolder = request.mapsFolder;
    if (runtime::lastChar(outcome.mapsFolder) != u"\\"_s)
        outcome.mapsFolder += u"\\"_s;
    // Each folder is read at most once in an install, however large, checks included.
    FileSession session(files, host);
    CarFiles car(session);
    try {
        outcome.failedCheck = failedCheck(request, outcome, session, car);
    } catch (const RuntimeError &error) { // an archive's own: no check's message fits
        outcome.archiveError = error.error();
        return outcome;
    }
    if (outcome.failedCheck)
        return outcome;
    records::FolderLock lock;
    std::optional<records::InstallJournal> journal;
    if (records && !records->dataFolder().isEmpty())
        beginRecord(request, outcome, session, *records, lock, journal);
    if (journal)
        session.setJournal(&*journal);
    try {
        copyFiles(request, progress, session, car, outcome);
    } catch (const RuntimeError &error) {
        if (!isArchiveError(error.error()))
            throw;
        // A member found damaged half way: nothing of the game changes.
        session.abandon();
        outcome.notWritten.clear();
        outcome.written = 0;
        outcome.archiveError = error.error();
    }
    if (!outcome.notWritten.isEmpty())
        outcome.guarded = guardedGame(request, files, session);
    if (journal)
        journal->finish(outcome.written > 0);
    return outcome;
}
