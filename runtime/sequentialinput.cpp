// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/sequentialinput.h"

#include "runtime/error.h"
#include "runtime/filesystem.h"
#include "runtime/hostpath.h"
#include "runtime/textconv.h"

#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <utility>

namespace runtime {

namespace {

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t';
}

// The encoding a byte order mark at the start names, and the mark's length; nothing without
// one. Notepad's "Unicode" and PowerShell 5.1's `>` write UTF-16 LE with its mark, "Unicode
// big endian" UTF-16 BE, and "UTF-8 with BOM" UTF-8. Windows-1251 text that begins with
// «яю» or «юя» has the same first bytes as a UTF-16 mark, as Notepad too reads it.
std::optional<std::pair<QStringConverter::Encoding, qsizetype>> byteOrderMark(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return std::pair{QStringConverter::Utf8, qsizetype(3)};
    if (bytes.startsWith("\xFF\xFE"))
        return std::pair{QStringConverter::Utf16LE, qsizetype(2)};
    if (bytes.startsWith("\xFE\xFF"))
        return std::pair{QStringConverter::Utf16BE, qsizetype(2)};
    return std::nullopt;
}

// Qt's UTF-16 decoder passes a surrogate without its pair through: as text, it is U+FFFD,
// as any other code unit that spells no character.
QString withoutLoneSurrogates(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

QString decodeText(const QByteArray &bytes)
{
    // With a mark, the text is in its encoding whatever follows: what is not is U+FFFD. The
    // mark is taken off here and any second one kept, as a character of the text.
    if (const auto mark = byteOrderMark(bytes)) {
        QStringDecoder decoder(mark->first, QStringConverter::Flag::Stateless |
                                                QStringConverter::Flag::ConvertInitialBom);
        return withoutLoneSurrogates(decoder(QByteArrayView(bytes).sliced(mark->second)));
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return decodeWindows1251(bytes);
}

} // namespace

SequentialInput::SequentialInput(FileSystem &files, const QString &path, const HostPaths &host)
{
    FolderIndex folders(files);
    const auto found = resolveExisting(path, host, folders);
    if (!found)
        raise(ErrorKind::NotFound, Operation::ReadText, path);
    Fd file;
    FileStatus status;
    int error = files.open(*found, file);
    if (error == 0)
        error = files.status(file, status);
    if (error != 0)
        raiseSystem(error, Operation::ReadText, path);
    const QString limit = QString::number(MaxFileSize);
    if (status.isRegular() && status.size > MaxFileSize)
        raise(ErrorKind::TooLarge, Operation::ReadText, path, limit);
    // Up to one byte past the limit, so that a file that keeps growing is refused too.
    QByteArray bytes;
    if (const int error = files.read(file, MaxFileSize + 1, bytes))
        raiseSystem(error, Operation::ReadText, path);
    if (bytes.size() > MaxFileSize)
        raise(ErrorKind::TooLarge, Operation::ReadText, path, limit);
    m_text = decodeText(bytes);
}

SequentialInput SequentialInput::fromBytes(const QByteArray &bytes)
{
    SequentialInput input;
    input.m_text = decodeText(bytes);
    return input;
}

bool SequentialInput::atLineEnd() const
{
    return m_pos < m_text.size() && (m_text[m_pos] == u'\n' || m_text[m_pos] == u'\r');
}

void SequentialInput::skipLineEnd()
{
    if (m_text[m_pos] == u'\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == u'\n')
        ++m_pos;
    ++m_pos;
    ++m_line;
}

void SequentialInput::skipBlank()
{
    while (m_pos < m_text.size()) {
        if (isSpace(m_text[m_pos]))
            ++m_pos;
        else if (atLineEnd())
            skipLineEnd();
        else
            break;
    }
}

bool SequentialInput::atEnd()
{
    skipBlank();
    return m_pos >= m_text.size();
}

// After a field: anything up to the next comma or line end is passed over, and that one
// delimiter is taken.
void SequentialInput::skipDelimiter()
{
    while (m_pos < m_text.size() && m_text[m_pos] != u',' && !atLineEnd())
        ++m_pos;
    if (m_pos >= m_text.size())
        return;
    if (m_text[m_pos] == u',')
        ++m_pos;
    else
        skipLineEnd();
}

QString SequentialInput::readRaw(bool number)
{
    skipBlank();
    m_fieldLine = m_line;
    if (m_pos >= m_text.size())
        throw RuntimeError({ErrorKind::CutShort, Operation::ParseText, 0, {}, {}, m_line});

    QString field;
    if (m_text[m_pos] == u'"') {
        const qsizetype close = m_text.indexOf(u'"', m_pos + 1);
        const qsizetype end = close < 0 ? m_text.size() : close;
        field = m_text.mid(m_pos + 1, end - m_pos - 1);
        m_line += int(field.count(u'\n'));
        m_pos = close < 0 ? end : end + 1;
    } else {
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != u',' && !atLineEnd() &&
               !(number && isSpace(m_text[m_pos])))
            ++m_pos;
        qsizetype end = m_pos;
        while (end > start && isSpace(m_text[end - 1]))
            --end;
        field = m_text.mid(start, end - start);
    }
    skipDelimiter();
    return field;
}

QString SequentialInput::readText()
{
    return readRaw(false);
}

qint16 SequentialInput::readInt16()
{
    const QString field = readRaw(true);
    static const auto isInteger = [](QStringView s) {
        if (!s.isEmpty() && (s.front() == u'+' || s.front() == u'-'))
            s = s.sliced(1);
        if (s.isEmpty())
            return false;
        for (QChar c : s)
            if (c < u'0' || c > u'9')
                return false;
        return true;
    };
    if (!isInteger(field))
        throw RuntimeError(
            {ErrorKind::NotAnInteger, Operation::ParseText, 0, {}, field.left(40), m_fieldLine});
    bool ok = false;
    const int value = field.toInt(&ok);
    if (!ok || value < std::numeric_limits<qint16>::min() ||
        value > std::numeric_limits<qint16>::max())
        throw RuntimeError(
            {ErrorKind::OutOfRange, Operation::ParseText, 0, {}, field.left(40), m_fieldLine});
    return qint16(value);
}

} // namespace runtime
