// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QStringList>
#include <optional>

namespace archives {

// What a member's name is, as its archive has it: text it marks as Unicode (a zip's UTF-8
// flag, every name of a 7z or a RAR 5, a RAR 4 name with its Unicode form), or bytes in a code
// page it does not name, a zip's or another's (a RAR 4 name without its Unicode form).
enum class NameBytes : quint8
{
    Zip,
    Other,
};

// The name that bytes in an unnamed code page spell, by one rule: bytes that are valid UTF-8
// are UTF-8 (archivers on Linux and macOS write it without the flag); other bytes in a zip
// are code page 866, the OEM code page that Windows and DOS write a zip's names in on a
// Russian system; anyone else's are Windows-1251, the system's own code page there.
QString decodeBytes(QByteArrayView raw, NameBytes from);

// The folders and the name a member's path gives, "/" or "\" between them, or nothing for a
// path that a folder on the disk could not hold as it stands: from a root or a drive letter,
// through "..", or with a name Windows keeps for a device, a stream's ':', or a character
// Windows refuses in names. "." and empty parts drop out.
std::optional<QStringList> memberComponents(const QString &path);

} // namespace archives
