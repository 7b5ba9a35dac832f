#include "app/RuntimeError.h"

#include <utility>

RuntimeError::RuntimeError(int number, QString description)
    : m_number(number), m_description(std::move(description)), m_what(m_description.toStdString())
{
}

RuntimeError RuntimeError::invalidProcedureCall()
{
    return RuntimeError(InvalidProcedureCall, QStringLiteral("Invalid procedure call or argument"));
}

RuntimeError RuntimeError::stopped()
{
    return RuntimeError(Stopped, QStringLiteral("Stopped."));
}

RuntimeError RuntimeError::overflow()
{
    return RuntimeError(Overflow, QStringLiteral("Overflow"));
}
