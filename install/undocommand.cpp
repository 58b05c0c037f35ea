// SPDX-License-Identifier: GPL-3.0-or-later
#include "install/undocommand.h"

#include "install/messages.h"
#include "records/undo.h"

using namespace Qt::StringLiterals;

bool isUndoCommand(const QStringList &arguments)
{
    // Any other long option is a mistake to say so of; Qt's own are single-dash.
    return !arguments.isEmpty() && arguments[0].startsWith(u"--"_s) &&
           arguments[0] != u"--undo-window"_s;
}

int runUndoCommand(const QStringList &arguments, runtime::FileSystem &files,
                   const runtime::HostPaths &host, QTextStream &out, QTextStream &err)
{
    const QString option = arguments.value(0);
    if (option == u"--undo"_s && arguments.size() == 2 && !arguments[1].isEmpty()) {
        const UndoOutcome outcome = UndoInstall(arguments[1], files, host,
                                                [&] { err << messages::UndoWaiting << Qt::endl; });
        QTextStream &to = outcome.status == UndoOutcome::Failed ? err : out;
        for (const QString &line : messages::undoReport(outcome, arguments[1]))
            to << line << '\n';
        to.flush();
        return int(outcome.status);
    }
    if (option == u"--installs"_s && arguments.size() <= 2) {
        try {
            const auto installs = RecordedInstalls(
                files, host, arguments.size() == 2 ? std::optional(arguments[1]) : std::nullopt);
            if (installs.good.isEmpty() && installs.damaged.isEmpty())
                out << messages::NoInstalls << '\n';
            for (const auto &install : installs.good)
                out << messages::installLine(install) << '\n';
            for (const auto &damaged : installs.damaged)
                out << messages::unreadableLine(damaged) << '\n';
            out.flush();
            return 0;
        } catch (const runtime::RuntimeError &error) {
            err << messages::describe(error.error()) << Qt::endl;
            return int(UndoOutcome::Failed);
        }
    }
    if (option == u"--help"_s && arguments.size() == 1) {
        out << messages::UndoUsage << Qt::endl;
        return 0;
    }
    err << messages::UndoUsage << Qt::endl;
    return int(UndoOutcome::Failed);
}
