#pragma once

#include <QString>

#include <exception>
#include <stdexcept>

// A refused operation, carrying the description the user is shown after the handler's own text.
class Failure : public std::runtime_error
{
public:
    explicit Failure(const QString &description)
        : std::runtime_error(description.toStdString()), m_description(description)
    {
    }
    QString description() const { return m_description; }

private:
    QString m_description;
};

// The description a handler shows after its own text, for any failure it caught.
QString describe(const std::exception &failure);

// The system's text for an errno value, in the user's language.
QString errnoText(int error);
