#include "runtime/sequentialinput.h"

#include "runtime/hostpath.h"
#include "runtime/runtimeerror.h"

#include <QFile>
#include <QStringDecoder>
#include <limits>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString decodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp1251("windows-1251");
    return cp1251(bytes);
}

} // namespace

SequentialInput::SequentialInput(const QString &path)
{
    const auto host = resolveExisting(path);
    if (!host)
        throw RuntimeError(u"файл не найден"_s);
    QFile file(decodeName(*host));
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(u"не удалось открыть файл: %1"_s.arg(file.errorString()));
    if (file.size() > MaxFileSize)
        throw RuntimeError(u"файл слишком велик (%1 байт, допустимо не больше %2)"_s.arg(
            QString::number(file.size()), QString::number(MaxFileSize)));
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw RuntimeError(u"не удалось прочитать файл: %1"_s.arg(file.errorString()));
    if (bytes.size() > MaxFileSize)
        throw RuntimeError(u"файл слишком велик (допустимо не больше %1 байт)"_s.arg(MaxFileSize));
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
        throw RuntimeError(u"строка %1: запись оборвана концом файла"_s.arg(m_line));

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
            u"строка %1: «%2» не является целым числом"_s.arg(m_fieldLine).arg(field.left(40)));
    bool ok = false;
    const int value = field.toInt(&ok);
    if (!ok || value < std::numeric_limits<qint16>::min() ||
        value > std::numeric_limits<qint16>::max())
        throw RuntimeError(
            u"строка %1: число %2 вне допустимого диапазона от -32768 до 32767"_s.arg(m_fieldLine)
                .arg(field.left(40)));
    return qint16(value);
}

} // namespace runtime
