#include "app/DebugLog.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace DebugLog
{

namespace
{

std::mutex fileMutex;
std::FILE* file = nullptr; // the debug log, or none

const char* typeName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "message";
}

std::FILE* openForAppending(const QString& path)
{
#ifdef Q_OS_WIN
    return _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"a");
#else
    return std::fopen(QFile::encodeName(path).constData(), "a");
#endif
}

void write(std::FILE* to, const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), to);
    std::fflush(to);
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // A message raised while one is written (by the writing itself) is dropped.
    static thread_local bool writing = false;
    if (!writing) {
        writing = true;
        const QByteArray line = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + u' ' +
                                 QLatin1String(typeName(type)) + QStringLiteral(": ") +
                                 qFormatLogMessage(type, context, message) + u'\n')
                                    .toUtf8();
        {
            const std::lock_guard<std::mutex> lock(fileMutex);
            if (file)
                write(file, line);
        }
        if (type == QtFatalMsg)
            write(stderr, line);
        writing = false;
    }
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void Install()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        const QString path = qEnvironmentVariable(FileVariable);
        if (!path.isEmpty()) {
            file = openForAppending(path);
            if (!file)
                write(stderr, QStringLiteral("Cannot open the debug log %1 (%2).\n")
                                  .arg(path, QString::fromLocal8Bit(std::strerror(errno)))
                                  .toUtf8());
        }
        qInstallMessageHandler(handle);
    });
}

} // namespace DebugLog
