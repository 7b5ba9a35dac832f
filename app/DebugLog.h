#pragma once

// Qt's own messages (its debug, info, warning and critical lines, such as a
// driver's "QODBCResult::exec: Unable to execute statement: ...") are not
// the program's messages: they never reach stderr or the windows. When the
// environment variable names a file, each is appended to it as one line.
namespace DebugLog
{

inline const char FileVariable[] = "QUORVANE_DEBUG_LOG";

// Installs the message handler, with the file the variable names now; the
// first thing both programs do. A fatal message goes to the file and to
// stderr, and still ends the program at once. Installing again does nothing.
void Install();

} // namespace DebugLog
