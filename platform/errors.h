#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// Base of every error this program raises: a message shown to the user as it is.
class Exception : public std::exception {
public:
    explicit Exception(const QString &message) : m_message(message), m_utf8(message.toUtf8()) {}
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A failed operating-system call: the code and the system's own text.
class EOSError : public Exception {
public:
    EOSError(quint32 code, const QString &message) : Exception(message), ErrorCode(code) {}
    quint32 ErrorCode;
};

// A failed file read or write, with a Windows-style error code (2 = file not found, 5 = access denied).
class EInOutError : public Exception {
public:
    EInOutError(int code, const QString &message) : Exception(message), ErrorCode(code) {}
    int ErrorCode;
};

// The environment store could not be written ("Failed to set data for '%s'").
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// An INI file could not be written ("Unable to write to %s").
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// The text an escaping error shows to the user.
QString ExceptionMessage(std::exception_ptr error);

namespace platform {
// The system's own text for an errno value.
QString SystemErrorText(int code);
// EOSError naming the failed call with the system text of errno.
[[noreturn]] void RaiseLastOSError(const char *call);
}
