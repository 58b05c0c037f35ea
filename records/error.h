// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/error.h"

#include <QLatin1StringView>
#include <QString>
#include <exception>
#include <optional>

// What the records of the installs, or an undo, met: troubles of their own, or the host's.
// The texts the player reads are made from it by the layer that talks to the player.
namespace records {

enum class Problem : quint8
{
    System,        // the host said no: `code` holds its errno
    Runtime,       // a runtime service failed (a path that cannot be resolved): `cause` says how
    Damaged,       // a record that cannot be read: `code` says what is wrong (Damage), `detail` of
                   // which field or value
    Newer,         // a record of a later version of the program: `detail` is its format
    NoDataFolder,  // no folder for the program's records
    NotOwn,        // records another user owns or may write to: `path` names them
    NotRecorded,   // an install that went on without its record: `code` is the errno why, 0
                   // when not known
    NotNewest,     // an install that a newer one into its folder must be undone before:
                   // `detail` is that one's number
    KeptMissing,   // the kept file `path` of the game's file `detail` is not there
    GameMoved,     // the game folder `path` is not the one its installs were made in: `detail`
                   // is where that one is now, "" when it is not found
    Ambiguous,     // `detail` names both a folder and a recorded install
    NoSuchInstall, // no install numbered `detail` is recorded
};

// What the records were doing.
enum class Step : quint8
{
    ReadRecord,
    WriteRecord,
    Keep, // keeping a file an install replaces, so that it can be undone
    Lock, // taking a game folder's turn
    FindGame,
    Restore, // putting a kept file back
    Remove,  // removing a file an install created
    Forget,  // moving what a record kept out of the records
};

struct Error
{
    Problem problem = Problem::System;
    Step step = Step::ReadRecord;
    int code = 0;
    QString path;                        // what the step worked on, "" when nothing in particular
    QString detail;                      // what the problem speaks of
    std::optional<runtime::Error> cause; // Problem::Runtime

    bool operator==(const Error &) const = default;
};

// The names records store them under, fixed here, so that a renamed enumerator leaves old
// records readable.
QLatin1StringView nameOf(Problem problem);
QLatin1StringView nameOf(Step step);
std::optional<Problem> problemNamed(QStringView name);
std::optional<Step> stepNamed(QStringView name);

// The one exception the records throw.
class RecordsError : public std::exception
{
public:
    explicit RecordsError(Error error) : m_error(std::move(error)) {}
    const Error &error() const noexcept { return m_error; }
    const char *what() const noexcept override { return "records::RecordsError"; }

private:
    Error m_error;
};

[[noreturn]] void raise(Problem problem, Step step, const QString &path = {},
                        const QString &detail = {}, int code = 0);
Error systemError(int code, Step step, const QString &path = {});
[[noreturn]] void raiseSystem(int code, Step step, const QString &path = {});

// Runs `work`; a runtime service's error comes out as the records' own.
template <typename Work> auto runtimeStep(Step step, Work work)
{
    try {
        return work();
    } catch (const runtime::RuntimeError &error) {
        throw RecordsError({Problem::Runtime, step, 0, {}, {}, error.error()});
    }
}

} // namespace records
