#pragma once

#include <QString>
#include <stdexcept>

namespace runtime {

// The one error type the runtime services raise: a message a person can read and, where
// the caller already names the failing thing, the bare reason ("нет места на диске").
class RuntimeError : public std::runtime_error
{
public:
    explicit RuntimeError(const QString &message, const QString &reason = QString())
        : std::runtime_error(message.toStdString()), m_message(message), m_reason(reason)
    {}
    const QString &message() const { return m_message; }
    const QString &reason() const { return m_reason.isEmpty() ? m_message : m_reason; }

private:
    QString m_message;
    QString m_reason;
};

} // namespace runtime
