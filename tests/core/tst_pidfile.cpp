// The PID-file protocol in one process: open-file-description locks conflict
// between two objects of one process just as between two processes.
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
private slots:
    void init() { m_path = m_dir.filePath(QStringLiteral("app.pid")); QFile::remove(m_path); }
    void secondHolderRefused();
    void cannotBeMade();
    void removedBetweenOpenAndLock();
    void newInstanceWhileReleasing();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void tst_PidFile::secondHolderRefused()
{
    PidFile first(m_path);
    QCOMPARE(first.acquire(QStringLiteral("4242")), PidFile::Acquired);
    QCOMPARE(contentOf(m_path), QByteArray("4242\n"));

    PidFile second(m_path);
    QCOMPARE(second.acquire(QStringLiteral("77")), PidFile::HeldByOther);
    QCOMPARE(second.holderPid(), 4242);
    QVERIFY(!second.isHeld());
    QCOMPARE(contentOf(m_path), QByteArray("4242\n"));

    QVERIFY(first.release());
    QVERIFY(!QFile::exists(m_path));
    QCOMPARE(second.acquire(QStringLiteral("77")), PidFile::Acquired);
    QCOMPARE(contentOf(m_path), QByteArray("77\n"));
}

void tst_PidFile::cannotBeMade()
{
    QFile plain(m_dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    PidFile below(plain.fileName() + QStringLiteral("/x.pid"));
    QCOMPARE(below.acquire(QStringLiteral("1")), PidFile::Failed);
    PidFile folder(m_dir.path());
    QCOMPARE(folder.acquire(QStringLiteral("1")), PidFile::Failed);
}

// The previous holder removed its file after we opened it and before we
// locked it: holding that removed file would let the next instance in.
void tst_PidFile::removedBetweenOpenAndLock()
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
void tst_PidFile::newInstanceWhileReleasing()
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

QTEST_APPLESS_MAIN(tst_PidFile)
#include "tst_pidfile.moc"
