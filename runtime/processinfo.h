#pragma once

#include <QtGlobal>

namespace runtime {

// The most memory the process has held resident so far, in KiB (0 where unknown).
qint64 peakResidentKiB();

} // namespace runtime
