// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace runtime {

// The last character of a text, "" for an empty text.
QString lastChar(const QString &text);

// Text in the code pages of Russian Windows, by their tables: not every build of Qt knows
// them by name (one for Windows without ICU knows only the UTF encodings, Latin-1 and the
// system's own). Windows-1251 is the ANSI code page; 866, the OEM one, of DOS and of the
// names in zips made on Windows.
QString decodeWindows1251(QByteArrayView bytes);
QString decodeCp866(QByteArrayView bytes);

} // namespace runtime
