// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/textconv.h"

namespace runtime {

QString lastChar(const QString &text)
{
    return text.right(1);
}

} // namespace runtime
