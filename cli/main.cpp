#include "app/DebugLog.h"
#include "cli/Cli.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    DebugLog::Install(); // Qt's own messages: to the debug log, if any
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvane-cli"));
    return Cli::run(QCoreApplication::arguments().mid(1));
}
