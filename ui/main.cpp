#include "app/DebugLog.h"
#include "ui/Program.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    DebugLog::Install(); // Qt's own messages: to the debug log, if any
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Brenlow"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setQuitOnLastWindowClosed(false); // the windows end the program themselves
    Program program;
    program.start();
    return QApplication::exec();
}
