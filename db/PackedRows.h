#pragma once

#include <QStringList>
#include <QStringView>
#include <functional>

// Rows packed by the server into one text (one value to fetch, where each
// value fetched on its own costs more than the query). Each row's values
// follow one another, each in one of two forms:
//   - counted: its length in characters (code points), a colon and its
//     text; a Null is a colon alone;
//   - plain, for a text that holds neither a colon nor a semicolon: the
//     text and a semicolon.
namespace Db::PackedRows
{

// Calls `row` with each row's `columns` values (a Null as a null QString).
// False where the text is not of whole rows in these forms.
bool parse(QStringView text, int columns, const std::function<void(const QStringList&)>& row);

} // namespace Db::PackedRows
