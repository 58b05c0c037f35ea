// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of the undo share: the state of a game folder, the command line's undo, what
// a test does between an install and its undo, and the undo's outcome briefly.
#pragma once

#include "app/commandline.h"
#include "archivewriter.h"
#include "installfixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

using namespace Qt::StringLiterals;
using Op = TestFileSystem::Op;

// Every entry of the game folder with what it holds: the whole state a player sees.
inline QStringList state(const Game &g)
{
    QStringList entries = g.gameEntries();
    for (QString &entry : entries) {
        const QByteArray bytes = g.game(runtime::encodeName(entry));
        runtime::FileStatus status;
        host::files().entryStatus(g.hostPath("Game/" + runtime::encodeName(entry)), status);
        entry += u" %1"_s.arg(status.mode, 0, 8);
        if (bytes != "<missing>")
            entry += u" = "_s + QString::fromUtf8(bytes.left(40).toHex());
    }
    return entries;
}

// A command of the command line, with its output.
inline int command(Game &g, const QStringList &arguments, QString *output = nullptr)
{
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int status =
        runCommand(parseCommandLine(arguments), g.files, g.host, outStream, errStream);
    if (output)
        *output = out + err;
    return status;
}

// The command line's undo, with its output.
inline int undoCommand(Game &g, QString *output = nullptr)
{
    return command(g, {u"--undo"_s, g.request.gameFolder}, output);
}

// What a test does to the game or the records between an install and its undo, and what
// of POSIX files it needs, if anything.
struct Action
{
    std::function<void(Game &)> run;
    const char *posix = nullptr;
};
Q_DECLARE_METATYPE(Action)

// Stands for the process being killed at some step.
struct Killed
{
};

template <typename Enum> QLatin1StringView key(Enum value)
{
    return QLatin1StringView(QMetaEnum::fromType<Enum>().valueToKey(int(value)));
}
// An error briefly: its kind, what failed, and its code (an errno, or a records::Damage);
// of a runtime service's error, that error's.
inline QString failure(runtime::ErrorKind kind, runtime::Operation operation, int code = 0)
{
    return key(kind) + u' ' + key(operation) + u' ' + QString::number(code);
}
inline QString failure(records::Problem problem, records::Step step, int code = 0)
{
    return records::nameOf(problem) + u' ' + records::nameOf(step) + u' ' + QString::number(code);
}
inline QString failure(const std::optional<records::Error> &e)
{
    if (e && e->cause)
        return failure(e->cause->kind, e->cause->operation, e->cause->code);
    return e ? failure(e->problem, e->step, e->code) : QString();
}
inline QString damaged(records::Damage damage)
{
    return failure(records::Problem::Damaged, records::Step::ReadRecord, int(damage));
}

// What an undo did, a line a step, "models\\a.4ds Changed", with its error if any; then why
// it stopped, if it did.
inline QStringList kinds(const records::UndoOutcome &outcome)
{
    QStringList result;
    for (const records::UndoStep &step : outcome.steps) {
        static const char *names[] = {"Restored", "Removed",       "AlreadyBack", "Changed",
                                      "NotKept",  "FolderRemoved", "FolderLeft",  "Failed",
                                      "ReadOnly", "KeptChanged"};
        result.append(
            (step.file + u' ' + QLatin1StringView(names[step.kind]) + u' ' + failure(step.error))
                .trimmed());
    }
    if (outcome.error)
        result.append(failure(outcome.error));
    return result;
}

// Sets a host file's modification time, in nanoseconds since 1970.
inline void setModified(const QByteArray &path, qint64 modified)
{
    runtime::Fd file;
    QCOMPARE(host::files().open(path, file), 0);
    QCOMPARE(host::files().setModified(file, modified), 0);
}

// Rewrites the newest record; `edit` is given it and its first change.
inline void editRecord(Game &g, const std::function<void(QJsonObject &, QJsonObject &)> &edit)
{
    const QByteArray path = g.installs()[0].folder + "/record.json";
    QJsonObject record = QJsonDocument::fromJson(host::read(path)).object();
    QJsonArray changes = record[u"changes"_s].toArray();
    QJsonObject first = changes[0].toObject();
    edit(record, first);
    changes[0] = first;
    record[u"changes"_s] = changes;
    host::write(path, QJsonDocument(record).toJson());
}

// The new car's folder as a zip beside it, "new.zip", with `more` entries after it; the
// request then names its model and its Maps folder in it.
inline void zipNew(Game &g, const QList<testarchive::Entry> &more = {})
{
    QList<testarchive::Entry> entries{{"Wren/car.4ds", g.read(u"new/car.4ds")}};
    for (const QString &name : QDir(g.path("new/Maps")).entryList(QDir::Files | QDir::Hidden))
        entries.append({"Wren/Maps/" + name.toUtf8(), g.read(QString(u"new/Maps/"_s + name))});
    QVERIFY(testarchive::write(g.hostPath("new.zip"), "zip", entries + more));
    g.request.modelFile = g.path("new.zip\\Wren\\car.4ds");
    g.request.mapsFolder = g.path("new.zip\\Wren\\Maps");
}
