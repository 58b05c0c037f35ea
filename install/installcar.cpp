#include "install/installcar.h"

#include "runtime/fileops.h"
#include "runtime/hostpath.h"
#include "runtime/listing.h"
#include "runtime/messagebox.h"
#include "runtime/runtimeerror.h"
#include "runtime/textconv.h"

#include <QHash>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <exception>

using namespace Qt::StringLiterals;
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

// Shows a failed check's message; the install then ends.
void fail(const QString &message)
{
    runtime::MsgBox(message, runtime::vbCritical, messages::ErrorTitle);
}

bool checksPass(InstallControls &form, ColourSelection &ColourSelected)
{
    // The Maps folder always ends in a separator from here on, also in the field.
    if (runtime::lastChar(form.Text3()) != u"\\"_s)
        form.setText3(form.Text3() + u"\\"_s);

    if (!passes(
            [&] { return !form.Text1().isEmpty() && Listing::any(form.Text1() + u"/a0.dta"_s); })) {
        fail(messages::BadGameFolder);
        return false;
    }
    if (!passes([&] { return Listing::any(form.Text2()); })) {
        fail(messages::BadModelFile);
        return false;
    }
    if (!passes([&] { return Listing::any(form.Text3() + u"\\"_s); })) {
        fail(messages::BadMapsFolder);
        return false;
    }
    if (!passes([&] {
            const bool bmp = Listing::any(form.Text3() + u"\\*.bmp"_s);
            const bool tga = Listing::any(form.Text3() + u"\\*.tga"_s);
            return bmp || tga;
        })) {
        fail(messages::NoTextures);
        return false;
    }
    if (form.Combo1ListIndex() == -1) {
        fail(messages::NoCar);
        return false;
    }
    if (form.CheckValue(1) == 0 && form.CheckValue(2) == 0 && form.CheckValue(3) == 0 &&
        form.CheckValue(4) == 0) {
        fail(messages::NoColour);
        return false;
    }

    for (int i = 0; i < 4; ++i)
        ColourSelected[i] = false;
    for (int box = 1; box <= 4; ++box) {
        if (form.CheckValue(box) == 1)
            ColourSelected[box - 1] = true;
    }
    return true;
}

// What the copying did: the files written, and each file or folder it could not write.
class InstallReport
{
public:
    InstallReport(const QString &gameFolder, InstallProgress *progress, int total)
        : m_gameFolder(gameFolder), m_progress(progress), m_total(total)
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
    void commit(runtime::FileSession &session)
    {
        if (m_progress)
            m_progress->writingOut();
        for (const auto &failure : session.commit()) {
            for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
                if (it->isFile && it->failure.isEmpty() && it->target == failure.destination) {
                    it->failure = failure.reason;
                    break;
                }
            }
        }
    }

    void show() const
    {
        if (m_progress)
            m_progress->finished();
        QStringList failures;
        int written = 0;
        for (const Entry &entry : m_entries) {
            if (!entry.failure.isEmpty())
                failures.append(u"%1 — %2"_s.arg(shown(entry.target), entry.failure));
            else if (entry.isFile)
                ++written;
        }
        if (failures.isEmpty()) {
            runtime::MsgBox(messages::Installed);
            return;
        }
        QString text = messages::PartlyInstalled + u"\n\n"_s + messages::NotWritten + u"\n"_s;
        const qsizetype listed = std::min<qsizetype>(failures.size(), MaxListed);
        text += failures.first(listed).join(u'\n');
        if (failures.size() > listed)
            text += u"\n"_s + messages::AndMore.arg(failures.size() - listed);
        text += u"\n\n"_s + messages::FilesWritten.arg(written);
        runtime::MsgBox(text, runtime::vbCritical, messages::ErrorTitle);
    }

private:
    static constexpr qsizetype MaxListed = 10;

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
    int m_done = 0;
    QList<Entry> m_entries;
};

// The listing of a folder comes back empty, or cannot be made.
bool listsNothing(const QString &pattern)
{
    try {
        return !Listing::any(pattern);
    } catch (const std::exception &) {
        return true;
    }
}

// Creates a folder found empty or missing. One that exists already, as the creation
// then fails to find out, is not a failure: the files go into it as they are.
void makeFolderIfNeeded(InstallReport &report, const QString &listed, const QString &folder)
{
    if (!listsNothing(listed))
        return;
    try {
        runtime::makeFolder(folder);
    } catch (const runtime::RuntimeError &error) {
        bool exists = false;
        try {
            const auto host = runtime::resolveExisting(folder);
            exists = host && runtime::isFolder(*host);
        } catch (const std::exception &) {
        }
        if (!exists)
            report.failed(folder, error.reason());
    }
}

// How many of the car's colour variants can be installed: those among the first four.
int installableColours(InstallControls &form, const CarTable &cars)
{
    try {
        const double n = runtime::toNumber(cars.CarColours.at(size_t(form.Combo1ListIndex())));
        return int(std::clamp(std::floor(n), 0.0, 4.0));
    } catch (const std::exception &) {
        return 0;
    }
}

// The number of files the install will write, for its progress.
int filesToWrite(InstallControls &form, const CarTable &cars, const ColourSelection &selected)
{
    const int colours = installableColours(form, cars);
    int files = 2 * int(std::count(selected.begin(), selected.begin() + colours, true));
    try {
        files += int(Listing::all(form.Text3()).size());
    } catch (const std::exception &) {
    }
    return files;
}

void copyFiles(InstallControls &form, const CarTable &cars, const ColourSelection &ColourSelected,
               InstallProgress *progress)
{
    const QString G = form.Text1();
    InstallReport report(G, progress, progress ? filesToWrite(form, cars, ColourSelected) : 0);
    // The copies reach the disk in two flushes, one a phase.
    runtime::FileSession session;

    makeFolderIfNeeded(report, G + u"\\MODELS\\"_s, G + u"\\MODELS\\"_s);

    const int colours = installableColours(form, cars);
    static const QString digits[] = {u"0"_s, u"1"_s, u"2"_s, u"3"_s};
    for (int i = 0; i < colours; ++i) {
        if (!ColourSelected[i])
            continue;
        const QString model = cars.CarModel.at(size_t(form.Combo1ListIndex()));
        for (const QString &d : {digits[0], digits[1]}) {
            const QString target = G + u"\\models\\"_s + model + d + digits[i] + u".4ds"_s;
            report.attempt(target, [&] { runtime::copyFile(form.Text2(), target); });
        }
    }

    report.commit(session);

    makeFolderIfNeeded(report, G + u"\\maps\\"_s, G + u"\\maps"_s);

    const QString maps = form.Text3();
    QStringList textures;
    try {
        textures = Listing::all(maps);
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
            runtime::copyFile(maps + f, target);
        });
    }
    report.commit(session);

    report.show();
}

} // namespace

void InstallCar(InstallControls &form, const CarTable &cars, ColourSelection &ColourSelected,
                InstallProgress *progress)
{
    // Each folder is read at most once in an install, however large.
    runtime::FolderCache folders;
    if (!checksPass(form, ColourSelected))
        return;
    copyFiles(form, cars, ColourSelected, progress);
}
