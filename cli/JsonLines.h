#pragma once

#include <QByteArray>
#include <QString>

// One line of the command-line tool's input and output: a JSON string, or
// null for a database Null.
namespace JsonLines
{

struct Value {
    bool ok = false;
    bool isNull = false;
    QString text;  // the string's value; empty for null
    QString error; // why the line is no JSON string or null
};

// Parses one line (UTF-8, without its line feed). Surrounding JSON white space
// is allowed; anything else besides one string or null is an error.
Value parse(const QByteArray& line);

// The JSON string literal of a text, quotes included. Control characters and
// unpaired surrogates are escaped, so the result is valid UTF-8 JSON.
QByteArray quote(const QString& text);

} // namespace JsonLines
