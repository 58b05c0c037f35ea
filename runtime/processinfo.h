// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace runtime {

// The folder that holds the program's executable.
QString programFolder();

// The most memory the process has held resident so far, in KiB (0 where unknown).
qint64 peakResidentKiB();

// The arguments the program was started with, its own name left out, as the program's
// paths: host bytes decoded by decodeName, or the host's own wide-character ones.
QStringList commandArguments(int argc, char *argv[]);

// Where the host starts a windowed program without its standard output and error, connects
// them to the console of the program that started it, if any. Where it sets the console to
// print UTF-8, the console gets its earlier code page back as the program ends.
void attachConsole();

// Gives the console back the code page it had before attachConsole, once what is printed is
// written; nothing where attachConsole changed none. The program does it as it ends.
void restoreConsole();

// Tells the host's installer that the program runs, from now until the process ends, so that
// it replaces or removes none of the program's files meanwhile (Windows); nothing elsewhere.
void announceRunning();

// While it lives, multibyte text of the C library on this thread is UTF-8, whatever the
// process's locale, so that a library that converts names through it (libarchive) loses
// none: on POSIX the thread's own locale; Windows' libraries convert to wide text without it.
class Utf8Text
{
public:
    Utf8Text();
    ~Utf8Text();
    Utf8Text(const Utf8Text &) = delete;
    Utf8Text &operator=(const Utf8Text &) = delete;

private:
    void *m_locale = nullptr;
    void *m_previous = nullptr;
};

} // namespace runtime
