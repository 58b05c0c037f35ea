#include "install/installcar.h"

#include "runtime/hostpath.h"
#include "runtime/listing.h"
#include "runtime/messagebox.h"
#include "runtime/runtimeerror.h"
#include "runtime/textconv.h"

#include <QHash>
#include <QStringList>
#include <algorithm>
#include <exception>

using namespace Qt::StringLiterals;
using runtime::FolderIndex;
using runtime::Listing;

namespace {

// A check whose test cannot even be made counts as failed.
template <typename Test> bool passes(Test test)
{
    try {
        return test();
    } catch (const std::exception &) {
        return false;
    }
}

// The message of the first check that fails, "" when all pass; then the chosen colours
// are recorded.
QString failedCheck(InstallControls &form, ColourSelection &ColourSelected, FolderIndex &folders)
{
    // The Maps folder always ends in a separator from here on, also in the field.
    if (runtime::lastChar(form.Text3()) != u"\\"_s)
        form.setText3(form.Text3() + u"\\"_s);

    if (!passes([&] {
            return !form.Text1().isEmpty() && Listing::any(form.Text1() + u"/a0.dta"_s, &folders);
        }))
        return messages::BadGameFolder;
    if (!passes([&] { return Listing::any(form.Text2(), &folders); }))
        return messages::BadModelFile;
    if (!passes([&] { return Listing::any(form.Text3() + u"\\"_s, &folders); }))
        return messages::BadMapsFolder;
    if (!passes([&] {
            const bool bmp = Listing::any(form.Text3() + u"\\*.bmp"_s, &folders);
            const bool tga = Listing::any(form.Text3() + u"\\*.tga"_s, &folders);
            return bmp || tga;
        }))
        return messages::NoTextures;
    if (form.Combo1ListIndex() == -1)
        return messages::NoCar;
    if (form.CheckValue(1) == 0 && form.CheckValue(2) == 0 && form.CheckValue(3) == 0 &&
        form.CheckValue(4) == 0)
        return messages::NoColour;

    for (int i = 0; i < 4; ++i)
        ColourSelected[i] = false;
    for (int box = 1; box <= 4; ++box) {
        if (form.CheckValue(box) == 1)
            ColourSelected[box - 1] = true;
    }
    return QString();
}

// What the copying did, kept in an outcome: each file written, and each file or folder
// that could not be.
class InstallReport
{
public:
    InstallReport(const QString &gameFolder, InstallProgress *progress, int total,
                  runtime::FileSession &session)
        : m_gameFolder(gameFolder), m_progress(progress), m_total(total), m_session(session)
    {}

    // Runs one copy; a copy that fails is recorded and the install goes on.
    template <typename Step> void attempt(const QString &target, Step step)
    {
        if (m_progress)
            m_progress->copying(m_done, std::max(m_total, m_done + 1), shown(target));
        ++m_done;
        try {
            step();
            m_entries.append({target, QString(), true});
        } catch (const runtime::RuntimeError &error) {
            m_entries.append({target, error.reason(), true});
        } catch (const std::exception &error) {
            m_entries.append({target, QString::fromLocal8Bit(error.what()), true});
        }
    }

    void failed(const QString &target, const QString &reason)
    {
        m_entries.append({target, reason, false});
    }

    // Puts the copies made so far in place; those that cannot be are failures after all.
    void commit()
    {
        if (m_progress)
            m_progress->writingOut();
        for (const auto &failure : m_session.commit()) {
            const auto it = std::find_if(m_entries.rbegin(), m_entries.rend(), [&](const Entry &e) {
                return e.failure.isEmpty() && e.target == failure.destination;
            });
            if (it != m_entries.rend())
                it->failure = failure.reason;
            else
                failed(failure.destination, failure.reason);
        }
    }

    void finish(InstallOutcome &outcome) const
    {
        if (m_progress)
            m_progress->finished();
        for (const Entry &entry : m_entries) {
            if (!entry.failure.isEmpty())
                outcome.notWritten.append({shown(entry.target), entry.failure});
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
        QString failure; // "" when written
        bool isFile;
    };

    QString m_gameFolder;
    InstallProgress *m_progress;
    int m_total;
    runtime::FileSession &m_session;
    int m_done = 0;
    QList<Entry> m_entries;
};

// Creates a folder found empty or missing. One that exists already, as the creation
// then fails to find out, is not a failure: the files go into it as they are.
void makeFolderIfNeeded(InstallReport &report, runtime::FileSession &session, const QString &listed,
                        const QString &folder)
{
    if (passes([&] { return Listing::any(listed, &session.folders()); }))
        return;
    try {
        runtime::makeFolder(folder, &session);
    } catch (const runtime::RuntimeError &error) {
        const bool exists = passes([&] {
            const auto host = runtime::resolveExisting(folder, &session.folders());
            return host && runtime::isFolder(*host);
        });
        if (!exists)
            report.failed(folder, error.reason());
    }
}

// How many of the car's colours can be installed; none when its count cannot be read.
int installableColours(InstallControls &form, const CarTable &cars)
{
    try {
        return colourUse(cars, form.Combo1ListIndex()).installable;
    } catch (const std::exception &) {
        return 0;
    }
}

// The number of files the install will write, for its progress.
int filesToWrite(InstallControls &form, const CarTable &cars, const ColourSelection &selected,
                 FolderIndex &folders)
{
    const int colours = installableColours(form, cars);
    int files = 2 * int(std::count(selected.begin(), selected.begin() + colours, true));
    try {
        files += int(Listing::all(form.Text3(), &folders).size());
    } catch (const std::exception &) {
    }
    return files;
}

void copyFiles(InstallControls &form, const CarTable &cars, const ColourSelection &ColourSelected,
               InstallProgress *progress, runtime::FileSession &session, InstallOutcome &outcome)
{
    const QString G = form.Text1();
    const int total = progress ? filesToWrite(form, cars, ColourSelected, session.folders()) : 0;
    // The copies reach the disk in two flushes, one a phase.
    InstallReport report(G, progress, total, session);

    makeFolderIfNeeded(report, session, G + u"\\MODELS\\"_s, G + u"\\MODELS\\"_s);

    const int colours = installableColours(form, cars);
    static const QString digits[] = {u"0"_s, u"1"_s, u"2"_s, u"3"_s};
    for (int i = 0; i < colours; ++i) {
        if (!ColourSelected[i])
            continue;
        const QString model = cars.CarModel.at(size_t(form.Combo1ListIndex()));
        for (const QString &d : {digits[0], digits[1]}) {
            const QString target = G + u"\\models\\"_s + model + d + digits[i] + u".4ds"_s;
            report.attempt(target, [&] { runtime::copyFile(session, form.Text2(), target); });
        }
    }
    report.commit();

    makeFolderIfNeeded(report, session, G + u"\\maps\\"_s, G + u"\\maps"_s);

    const QString maps = form.Text3();
    QStringList textures;
    try {
        textures = Listing::all(maps, &session.folders());
    } catch (const runtime::RuntimeError &error) {
        report.failed(maps, error.reason());
    }
    // Two textures whose names differ only in case are one file to the game: the first is
    // installed, and the second is reported rather than silently put over it.
    QHash<QString, QString> installedNames;
    for (const QString &f : textures) {
        const QString target = G + u"\\maps\\"_s + f;
        const QString first = installedNames.value(runtime::caseKey(f));
        report.attempt(target, [&] {
            if (!first.isNull())
                throw runtime::RuntimeError(messages::SameNameAs.arg(first));
            installedNames.insert(runtime::caseKey(f), f);
            runtime::copyFile(session, maps + f, target);
        });
    }
    report.commit();
    report.finish(outcome);
}

} // namespace

ClosingMessage closingMessage(const InstallOutcome &outcome)
{
    if (!outcome.failedCheck.isEmpty())
        return {outcome.failedCheck, runtime::vbCritical, messages::ErrorTitle};
    if (outcome.notWritten.isEmpty())
        return {messages::Installed, runtime::vbOKOnly, QString()};

    constexpr qsizetype MaxListed = 10;
    QString text = messages::PartlyInstalled + u"\n\n"_s + messages::NotWritten;
    const qsizetype listed = std::min(outcome.notWritten.size(), MaxListed);
    for (const auto &[file, reason] : outcome.notWritten.first(listed))
        text += u"\n%1 — %2"_s.arg(file, reason);
    if (outcome.notWritten.size() > listed)
        text += u"\n"_s + messages::AndMore.arg(outcome.notWritten.size() - listed);
    text += u"\n\n"_s + messages::FilesWritten.arg(outcome.written);
    return {text, runtime::vbCritical, messages::ErrorTitle};
}

InstallOutcome InstallCar(InstallControls &form, const CarTable &cars,
                          ColourSelection &ColourSelected, InstallProgress *progress,
                          const QList<runtime::testing::Fault> &plannedFaults)
{
    // Each folder is read at most once in an install, however large, checks included.
    runtime::FileSession session(plannedFaults);
    InstallOutcome outcome;
    outcome.failedCheck = failedCheck(form, ColourSelected, session.folders());
    if (outcome.failedCheck.isEmpty())
        copyFiles(form, cars, ColourSelected, progress, session, outcome);
    return outcome;
}
