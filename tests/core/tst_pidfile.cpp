// The PID-file protocol's races in one process: open-file-description locks
// conflict between two objects of one process just as between two processes.
// tst_runtime holds the file against a second process.
#include "PidFile_p.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using Kor::NS::PidFile;

namespace {

// Runs an action at one step of the protocol, as another instance would.
class SteppedPidFile : public PidFile
{
public:
    SteppedPidFile(const QString& path, Step step, std::function<void()> action)
        : PidFile(path), m_step(step), m_action(std::move(action))
    {
    }

protected:
    void between(Step step) override
    {
        if (step == m_step && m_action)
            std::exchange(m_action, nullptr)();
    }

private:
    Step m_step;
    std::function<void()> m_action;
};

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_PidFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("app.pid"));
        QFile::remove(m_path);
    }

    // The previous holder removed its file after we opened it and before we
    // locked it: holding that removed file would let the next instance in.
    void removedBetweenOpenAndLock()
    {
        SteppedPidFile late(m_path, PidFile::Locked, [this] { QFile::remove(m_path); });
        QCOMPARE(late.acquire(QStringLiteral("100")), PidFile::Acquired);
        QCOMPARE(contentOf(m_path), QByteArray("100\n"));
        PidFile third(m_path);
        QCOMPARE(third.acquire(QStringLiteral("300")), PidFile::HeldByOther);
        QCOMPARE(third.holderPid(), 100);
    }

    // An instance that starts while the holder ends gets the file; one that
    // starts after it is refused. Unlocking before removing would let both in.
    void newInstanceWhileReleasing()
    {
        PidFile next(m_path);
        SteppedPidFile ending(m_path, PidFile::RemovedLocked,
                              [&] { QCOMPARE(next.acquire(QStringLiteral("200")), PidFile::Acquired); });
        QCOMPARE(ending.acquire(QStringLiteral("100")), PidFile::Acquired);
        QVERIFY(ending.release());
        QVERIFY(next.isHeld());
        QCOMPARE(contentOf(m_path), QByteArray("200\n"));
        PidFile third(m_path);
        QCOMPARE(third.acquire(QStringLiteral("300")), PidFile::HeldByOther);
        QCOMPARE(third.holderPid(), 200);
    }
};

QTEST_APPLESS_MAIN(tst_PidFile)
#include "tst_pidfile.moc"
