// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/undoall.h"

QList<UndoOutcome> UndoAllInstalls(const QString &gameFolder, runtime::FileSystem &files,
                                   const runtime::HostPaths &host,
                                   const std::function<void()> &waiting)
{
    QList<UndoOutcome> outcomes;
    for (;;) {
        UndoOutcome outcome = UndoInstall(gameFolder, files, host, waiting);
        if (outcome.status == UndoOutcome::NothingToUndo && !outcomes.isEmpty())
            break;
        outcomes.append(std::move(outcome));
        if (outcomes.last().status != UndoOutcome::Done)
            break;
    }
    return outcomes;
}
