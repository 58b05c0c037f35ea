// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace runtime {

// The folder that holds the program's executable.
QString programFolder();

// The most memory the process has held resident so far, in KiB (0 where unknown).
qint64 peakResidentKiB();

} // namespace runtime
