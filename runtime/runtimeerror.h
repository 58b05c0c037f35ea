#pragma once

#include <QString>
#include <stdexcept>

namespace runtime {

// The one error type the runtime services raise: a message a person can read.
class RuntimeError : public std::runtime_error
{
public:
    explicit RuntimeError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

} // namespace runtime
