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
// them to the console of the program that started it, if any.
void attachConsole();

} // namespace runtime
