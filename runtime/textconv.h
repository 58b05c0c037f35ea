// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace runtime {

// The last character of a text, "" for an empty text.
QString lastChar(const QString &text);

} // namespace runtime
