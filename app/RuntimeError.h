#pragma once

#include <QString>
#include <exception>
#include <string>

// The one kind of run-time error of the system: a number and a description.
// Transforms raise 5 and 6; the database layer raises the driver's own text.
class RuntimeError : public std::exception
{
public:
    enum Number : int {
        InvalidProcedureCall = 5,
        Overflow = 6,
        TypeMismatch = 13,
        FileAccessError = 75,
        DriverError = -1,    // the description carries the database driver's text
        ConnectionLost = -2, // the same, and the connection is gone
        LockTimeout = -3,    // the same: a row lock held by another session outlasted the wait
        SplitCharacter = -4, // a new value would hold half a character (a lone UTF-16 surrogate)
        Stopped = -5,        // a statement ended because a stop was asked for: no failure
    };

    RuntimeError(int number, QString description);

    static RuntimeError invalidProcedureCall();
    static RuntimeError overflow();
    static RuntimeError stopped();

    int number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_number;
    QString m_description;
    std::string m_what;
};
