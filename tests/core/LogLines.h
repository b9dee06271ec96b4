#pragma once

// For in-process tests: a log file of their own, and the registry and updater
// folder an Application reads its set-up from.

#include <Kor/KorCore.h>
#include <Kor/LogModule.h>

#include <QDir>
#include <QFile>
#include <QStringList>

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// The whole file; empty where there is none.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts the log module on <base>.log with every level on and no time stamps,
// and hands out what the file gained since the last look.
class TestLog
{
public:
    void start(const QString& base)
    {
        m_file = base + ".log";
        Kor::LogModule::Start(Kor::LogModule::LogFile, QFile::encodeName(base).constData(), "test", "test");
        Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
        Kor::LogModule::LogFileFlush(true);
        Kor::LogModule::EnableTime(false);
    }

    // Writes out what the module still holds first.
    QByteArray newBytes()
    {
        Kor::LogModule::LogFilePrepareStop();
        const QByteArray all = readFile(m_file);
        const QByteArray fresh = all.mid(m_seen);
        m_seen = all.size();
        return fresh;
    }

    QStringList newLines() { return QString::fromUtf8(newBytes()).split('\n', Qt::SkipEmptyParts); }

    QString newText() { return newLines().join('\n'); }

private:
    QString m_file;
    qsizetype m_seen = 0;
};

// The running QCoreApplication, for an Application that must not delete it.
inline QSharedPointer<QCoreApplication> sharedCore()
{
    return QSharedPointer<QCoreApplication>(QCoreApplication::instance(), [](QCoreApplication*) {});
}

// A registry in dir whose store names dir/updater as the updater's folder, in
// force for the Application made next.
inline bool makeRegistry(const QDir& dir)
{
    qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(dir.filePath("registry")));
    return dir.mkpath("registry/HKEY_LOCAL_MACHINE/SOFTWARE") && dir.mkpath("updater")
        && writeFile(dir.filePath("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini"),
                     "[Common]\nUpdaterConfigPath=" + QFile::encodeName(dir.filePath("updater")) + "\n");
}

// The set-up file of makeRegistry's updater folder, with these settings.
inline bool writeSetup(const QDir& dir, const QByteArray& settings)
{
    return writeFile(dir.filePath("updater/setup.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Setup><Settings>"
                                                            + settings + "</Settings></Setup>\n");
}
