// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace runtime {

// The last character of a text, "" for an empty text.
QString lastChar(const QString &text);

// The numeric value of a text; throws RuntimeError when the text is not a number.
double toNumber(const QString &text);

// The decimal text of a 16-bit integer.
QString int16Text(qint16 value);

} // namespace runtime
