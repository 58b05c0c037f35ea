// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <optional>

namespace runtime {
class FileSystem;
struct HostPaths;
} // namespace runtime

// What the command line asks the program for.
struct Command
{
    enum Kind
    {
        MainWindow, // none of the program's options; files to fill it from, maybe
        UndoWindow, // --undo-window
        Undo,       // --undo GAME_FOLDER|NUMBER, --undo-number NUMBER
        Installs,   // --installs [GAME_FOLDER]
        Forget,     // --forget NUMBER
        Help,       // --help
        Version,    // --version
        Mistake,    // anything else
    };
    Kind kind = Mistake;
    std::optional<QString> gameFolder; // as the player wrote it, a number maybe
    qint64 number = 0;                 // an install's, where the option takes only that
    QStringList files = {};            // MainWindow: the files and folders to fill it from

    bool opensWindow() const { return kind == MainWindow || kind == UndoWindow; }
};

// Reads the arguments after the program's name. Qt's own options (-platform offscreen,
// --style Fusion, ...) are let through for the windows, with one dash or two; the program's
// own take two. Needs no application object: a command that opens no window runs, and a
// mistake is told, without a display.
Command parseCommandLine(const QStringList &arguments);

// The main window's command once its files are looked at: each must be a car's archive, a
// model file or the game's folder (Form1::openGiven); a command with anything else is a
// mistake.
Command checkGiven(Command command, runtime::FileSystem &files, const runtime::HostPaths &host);

// Runs a command that opens no window, printing what it does to `out` and why it fails to
// `err`; a mistake prints the usage to `err`. The exit status: 0 when everything was put back
// (or listed, or shown, or given up), 1 when some files were left because they changed
// since, 2 when there is nothing to undo, 3 on any other error.
int runCommand(const Command &command, runtime::FileSystem &files, const runtime::HostPaths &host,
               QTextStream &out, QTextStream &err);
