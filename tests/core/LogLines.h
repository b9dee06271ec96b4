#pragma once

// The lines a log file gained since the last look, for in-process tests
// that log to a file of their own.

#include <Kor/LogModule.h>

#include <QFile>
#include <QStringList>

// logFile is the module's file (with ".log"); seen is where the last look
// ended. Writes out what the module still holds first.
inline QStringList newLogLines(const QString& logFile, qsizetype& seen)
{
    Kor::LogModule::LogFilePrepareStop();
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    const QByteArray fresh = all.mid(seen);
    seen = all.size();
    QStringList lines = QString::fromUtf8(fresh).split('\n');
    lines.removeAll(QString());
    return lines;
}
