// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/gamefolder.h"
#include "records/undo.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <map>

namespace records {

// The steps of one undo. Each file's is decided before anything is changed, so that a kept
// file that is missing or not a file stops the undo before it begins; then they are taken,
// and the record ends with them: removed when the install is undone, else keeping only the
// files left.
class UndoSteps
{
public:
    UndoSteps(const Store &store, const GameFolder &game, const InstallRecord &record,
              runtime::Fd &recordFolder, UndoOutcome &outcome);

    void plan();
    // Removes what an undo or an install cut short left in the folders this one works in:
    // temporary files that no running process holds.
    void clearTemporaries();
    void run();
    void finish();

private:
    struct Planned
    {
        const Change *change;
        UndoStep::Kind kind;
        const runtime::Fd *folder; // open, holding the file; null when it cannot be reached
        QByteArray name;           // of the file in it
        runtime::FileStatus now;   // the file there, when there is one
        QByteArray digest;         // of its data, once read
    };
    // What the record's folder holds of a replaced file.
    struct Kept
    {
        bool there = false;
        runtime::FileStatus status;
    };

    void planFile(Planned &planned);
    void planReplaced(Planned &planned, bool exists, bool written, bool readOnly);
    int openFolderOf(const Change &change, const runtime::Fd *&opened, QByteArray &name);
    const QByteArray &digestOf(Planned &planned);
    bool holdsWritten(Planned &planned);
    bool holdsKept(Planned &planned, const Kept &kept);
    bool keptUnchanged(const Change &change, const Kept &kept);
    bool readOnly(const Planned &planned);
    int restore(const Planned &planned);
    int copyBack(const Planned &planned);
    void removeFolders();
    void step(UndoStep::Kind kind, const Change &change, std::optional<Error> error = {});

    const Store &m_store;
    runtime::FileSystem &m_files;
    const GameFolder &m_game;
    const InstallRecord &m_record;
    runtime::Fd &m_recordFolder;
    UndoOutcome &m_outcome;
    std::map<QByteArray, runtime::Fd> m_open; // the folders of the game met, by their path in it
    QHash<QByteArray, int> m_failed;          // why one could not be opened
    QList<Planned> m_planned;
    QList<Planned> m_folders;
    QList<const Change *> m_changes; // of the steps
    QSet<const runtime::Fd *> m_touched;
};

} // namespace records
