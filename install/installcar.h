// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/cartable.h"
#include "runtime/error.h"
#include "runtime/programfiles.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace runtime {
class FileSystem;
struct HostPaths;
} // namespace runtime
namespace records {
class Store;
} // namespace records

// The colours chosen by the last install that passed its checks: entries 0 to 3 stand for
// the colour boxes 1 to 4; entry 4 is never set.
using ColourSelection = std::array<bool, 5>;

// The main window's controls as the install button found them.
struct InstallRequest
{
    QString gameFolder;               // Text1
    QString modelFile;                // Text2
    QString mapsFolder;               // Text3
    std::optional<Car> car;           // Combo1's car; none when no car is chosen
    std::array<int, 4> colourBoxes{}; // Check1 to Check4: 0 unticked, 1 ticked
};

// The checks of an install, in the order they are made.
enum class Check
{
    GameFolder,
    ModelFile,
    MapsFolder,
    Textures,
    Car,
    Colours,
};

// What an install did.
struct InstallOutcome
{
    // The Maps folder field as the install leaves it: ending in a separator.
    QString mapsFolder;
    // The check that stopped the install; none when every check passed.
    std::optional<Check> failedCheck;
    // The colours recorded, once every check passed.
    std::optional<ColourSelection> colours;

    // The files not written, named from the game folder on, each with its reason.
    struct NotWritten
    {
        QString file;
        runtime::Error error;
        bool operator==(const NotWritten &) const = default;
    };
    QList<NotWritten> notWritten;
    int written = 0;
    // Where a file was not written and the game folder is in a folder of programs, that
    // folder: what only an administrator may write to.
    std::optional<runtime::GuardedFolder> guarded;

    // A fault of the program itself that broke the install off: an error no step expected,
    // or what an exception said.
    struct Fault
    {
        std::optional<runtime::Error> error;
        QString what;
    };
    std::optional<Fault> programFault;
    // An archive the car comes from that cannot be read, or not whole: nothing of the game
    // changed.
    std::optional<runtime::Error> archiveError;

    bool installed() const
    {
        return !failedCheck && notWritten.isEmpty() && !programFault && !archiveError;
    }
};

// Told how an install goes, from the thread it runs on.
class InstallProgress
{
public:
    virtual ~InstallProgress() = default;
    // `done` files of `total` are copied or failed; `file` is the next, named from the
    // game folder on.
    virtual void copying(int done, int total, const QString &file) = 0;
    // The copies are being flushed to disk and put in place.
    virtual void writingOut() {}
};

// The install button's whole work: checks the inputs, stopping at the first that fails,
// and records the chosen colours; then copies the model file over the chosen colours'
// model files and the Maps folder's files into the game's maps folder, through `files`.
// Every copy is tried even when others fail; none takes a destination's place before the
// data of them all is on the disk. With `records`, what the install changes is recorded
// there and what it replaces kept, so that it can be undone; one install or undo at a time
// writes to a game folder.
InstallOutcome InstallCar(const InstallRequest &request, runtime::FileSystem &files,
                          const runtime::HostPaths &host, const records::Store *records,
                          InstallProgress *progress = nullptr);
