#include "runtime/processinfo.h"

#include <sys/resource.h>

namespace runtime {

qint64 peakResidentKiB()
{
    struct rusage usage;
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? qint64(usage.ru_maxrss) : 0;
}

} // namespace runtime
