// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace runtime {

class FileSystem;
struct HostPaths;

// Sequential text input: a file read as a stream of comma- or line-separated fields.
//
// Spaces and line ends before a field are skipped. A text field may be enclosed in double
// quotes, which are removed and may hold commas; an unquoted text field ends at a comma or
// line end and loses its trailing spaces. A number ends at a space, comma or line end.
// A text that starts with a byte order mark is in the encoding it names: UTF-8, UTF-16 LE
// or UTF-16 BE. Without one, it is UTF-8 when it is valid UTF-8, otherwise Windows-1251.
class SequentialInput
{
public:
    // The largest file read; a longer one is refused rather than held in memory.
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

    // Opens the file of a program path for input; throws RuntimeError when it cannot.
    SequentialInput(FileSystem &files, const QString &path, const HostPaths &host);

    // Reads the fields of a file's content already in memory.
    static SequentialInput fromBytes(const QByteArray &bytes);

    // True when nothing but white space is left. Skips that white space.
    bool atEnd();

    // Read one field. Throw RuntimeError, with the line, when the file ends before the
    // field, or when a number is not a decimal integer in the 16-bit range.
    QString readText();
    qint16 readInt16();

    // The line on which the last field read began, from 1.
    int line() const { return m_fieldLine; }

private:
    SequentialInput() = default;
    void skipBlank();
    bool atLineEnd() const;
    void skipLineEnd();
    void skipDelimiter();
    QString readRaw(bool number);

    QString m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
    int m_fieldLine = 1;
};

} // namespace runtime
