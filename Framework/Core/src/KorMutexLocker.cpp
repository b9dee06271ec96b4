#include "KorMutexLocker.h"
#include "KorMutexLocker_p.h"

#include "CoreLog_p.h"
#include "HostProvider_p.h"
#include "Platform.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QRegularExpression>
#include <QSettings>
#include <QSharedPointer>
#include <QThread>

#include <atomic>

namespace Kor::NS {

namespace {

const QString TraceFileName = QStringLiteral("LockedMutexConfiguration.ini");
const QString LogMutexKey = QStringLiteral("Loglevel/LogMutex");
const QString LogMutexConfigKey = QStringLiteral("Loglevel/LogMutexConfig");
const QString ThreadNameKey = QStringLiteral("ThreadName");
const QString ThreadIdKey = QStringLiteral("ThreadId");
const QString LockDateKey = QStringLiteral("LockDate");
const QString QueryPrefix = QStringLiteral("Query_");
const QString GroupPrefix = QStringLiteral("MutexConfiguration_");

// The two settings, read through the application once and kept until they
// may have changed: reading them takes the settings lock and a lookup, far
// more than the lock itself costs. One word, so that a locker with tracing
// off pays a single load: bit 0 LogMutex, bit 1 LogMutexConfig, bit 2 set
// while the two bits are current, the rest a count of changes, so that a read
// overtaken by a change is never kept.
std::atomic<quint64> s_traceState{ 0 };
constexpr quint64 LogMutexBit = 1;
constexpr quint64 LogMutexConfigBit = 2;
constexpr quint64 TraceBits = LogMutexBit | LogMutexConfigBit;
constexpr quint64 CurrentBit = 4;
constexpr quint64 ChangeStep = 8;

quint64 readTraceSettings()
{
    quint64 seen = s_traceState.load(std::memory_order_acquire);
    if (seen & CurrentBit)
        return seen & TraceBits;
    HostProvider* host = hostProvider();
    if (!host)
        return 0; // nothing kept: once there, the application is asked
    const quint64 bits = (host->setting(LogMutexKey, false, false).toBool() ? LogMutexBit : 0)
                         | (host->setting(LogMutexConfigKey, false, false).toBool() ? LogMutexConfigBit : 0);
    // Fails if a change came in meanwhile; this locker still goes by what it read.
    s_traceState.compare_exchange_strong(seen, seen | CurrentBit | bits, std::memory_order_acq_rel,
                                         std::memory_order_relaxed);
    return bits;
}

// The common case in one load: the settings are known and neither is set.
inline bool tracingKnownOff()
{
    return (s_traceState.load(std::memory_order_relaxed) & (CurrentBit | TraceBits)) == CurrentBit;
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yy-MM-dd hh:mm:ss,zzz"));
}

void lockWrapped(void* mutex, bool recursive)
{
    if (recursive)
        static_cast<QRecursiveMutex*>(mutex)->lock();
    else
        static_cast<QMutex*>(mutex)->lock();
}

void unlockWrapped(void* mutex, bool recursive)
{
    if (recursive)
        static_cast<QRecursiveMutex*>(mutex)->unlock();
    else
        static_cast<QMutex*>(mutex)->unlock();
}

} // namespace

void mutexTraceSettingsChanged()
{
    quint64 state = s_traceState.load(std::memory_order_relaxed);
    while (!s_traceState.compare_exchange_weak(state, (state & ~(ChangeStep - 1)) + ChangeStep,
                                               std::memory_order_acq_rel, std::memory_order_relaxed)) {
    }
}

// Process-wide trace state.
struct TraceState
{
    QMutex namesLock;
    QMutex lockedMutexLock;
    bool traceFileBroken = false; // under lockedMutexLock
};

static TraceState& traceState()
{
    static TraceState state;
    return state;
}

// The registry and the trace file's state, kept together with their locks.
namespace {
QMap<void*, QString> s_mutexNames;                   // under namesLock, keyed by address
QSharedPointer<QSettings> s_lockedMutexSettings;     // under lockedMutexLock
QMap<void*, QMap<int, int>> s_waitingThreads;        // under lockedMutexLock
} // namespace

_KorMutexLocker::_KorMutexLocker(QMutex* mutex)
    : m_mutex{ mutex, false }
{
    if (Q_LIKELY(tracingKnownOff())) {
        if (mutex)
            mutex->lock();
    } else {
        lockSlow();
    }
}

_KorMutexLocker::_KorMutexLocker(QRecursiveMutex* mutex)
    : m_mutex{ mutex, true }
{
    if (Q_LIKELY(tracingKnownOff())) {
        if (mutex)
            mutex->lock();
    } else {
        lockSlow();
    }
}

void _KorMutexLocker::lockSlow()
{
    const quint64 bits = readTraceSettings();
    if (!m_mutex.mutex)
        return;
    if (!bits)
        lockWrapped(m_mutex.mutex, m_mutex.recursive);
    else
        lockTraced(bits & LogMutexBit, bits & LogMutexConfigBit);
}

void _KorMutexLocker::lockTraced(bool logMutex, bool logMutexConfig)
{
    m_logMutex = logMutex;
    m_logMutexConfig = logMutexConfig;
    m_threadName = QThread::currentThread()->objectName();
    m_threadId = Platform::currentThreadId();
    m_mutexName = mutexName(m_mutex);
    if (m_mutexName.isEmpty())
        m_mutexName = QString::number(quintptr(m_mutex.mutex));
    QMap<QString, QVariant> values;
    if (m_logMutexConfig) {
        values.insert(ThreadNameKey, m_threadName);
        values.insert(ThreadIdKey, m_threadId);
        values.insert(LockDateKey, now());
        setLockedMutexConfigValues(m_mutexName, values, false);
    }
    lockWrapped(m_mutex.mutex, m_mutex.recursive);
    if (m_logMutexConfig) {
        values.insert(LockDateKey, now());
        setLockedMutexConfigValues(m_mutexName, values, true);
    }
    if (m_logMutex)
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Locked mutex " << m_mutexName << " from thread " << m_threadName
                                            << "(" << m_threadId << ")";
}

_KorMutexLocker::_KorMutexLocker(_KorMutexLocker&& other) noexcept
    : m_mutexName(std::move(other.m_mutexName))
    , m_threadName(std::move(other.m_threadName))
    , m_threadId(other.m_threadId)
    , m_logMutex(other.m_logMutex)
    , m_logMutexConfig(other.m_logMutexConfig)
    , m_mutex(other.m_mutex)
    , m_helper(other.m_helper)
{
    other.m_mutex.mutex = nullptr;
}

_KorMutexLocker::~_KorMutexLocker()
{
    if (!m_mutex.mutex)
        return;
    if (Q_UNLIKELY(m_logMutex || m_logMutexConfig))
        unlockTraced();
    else
        unlockWrapped(m_mutex.mutex, m_mutex.recursive);
}

void _KorMutexLocker::unlockTraced()
{
    if (m_logMutex)
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Unlocking mutex " << m_mutexName << " from thread " << m_threadName
                                            << "(" << m_threadId << ")";
    if (m_logMutexConfig)
        removeLockedMutexConfigValues(m_mutexName);
    unlockWrapped(m_mutex.mutex, m_mutex.recursive);
}

void _KorMutexLocker::registerMutex(QMutex* mutex, const QString& name)
{
    registerMutex(MutexPWrapper{ mutex, false }, name);
}

void _KorMutexLocker::registerMutex(QRecursiveMutex* mutex, const QString& name)
{
    registerMutex(MutexPWrapper{ mutex, true }, name);
}

void _KorMutexLocker::unregisterMutex(QMutex* mutex)
{
    unregisterMutex(MutexPWrapper{ mutex, false });
}

void _KorMutexLocker::unregisterMutex(QRecursiveMutex* mutex)
{
    unregisterMutex(MutexPWrapper{ mutex, true });
}

QString _KorMutexLocker::mutexName(MutexPWrapper mutex)
{
    static const QRegularExpression notAllowed(QStringLiteral("[^a-zA-Z0-9-]"));
    QString name;
    {
        QMutexLocker locker(&traceState().namesLock);
        const auto it = s_mutexNames.constFind(mutex.mutex);
        if (it == s_mutexNames.cend())
            return QString();
        name = it.value();
    }
    return name.replace(notAllowed, QStringLiteral("_"));
}

void _KorMutexLocker::registerMutex(MutexPWrapper mutex, const QString& name)
{
    QMutexLocker locker(&traceState().namesLock);
    s_mutexNames.insert(mutex.mutex, name);
}

void _KorMutexLocker::unregisterMutex(MutexPWrapper mutex)
{
    QMutexLocker locker(&traceState().namesLock);
    s_mutexNames.remove(mutex.mutex);
}

namespace {

// The trace file follows the settings file's rule: a path that is no regular
// file once links are resolved (a FIFO, a device, a folder) is never opened,
// created or replaced; the trace then lives in memory only.
bool traceFileUsable()
{
    const QFileInfo info(TraceFileName);
    return !info.exists() || info.isFile();
}

void syncTraceFile(TraceState& state)
{
    if (s_lockedMutexSettings->fileName().isEmpty())
        return;
    if (!traceFileUsable()) {
        if (!state.traceFileBroken)
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Mutex trace file " << QFileInfo(TraceFileName).absoluteFilePath()
                                                 << " is not a regular file; it is not written";
        state.traceFileBroken = true;
        return;
    }
    s_lockedMutexSettings->sync();
    const bool failed = s_lockedMutexSettings->status() != QSettings::NoError;
    if (failed && !state.traceFileBroken)
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Mutex trace file " << QFileInfo(TraceFileName).absoluteFilePath()
                                             << " cannot be written; the trace goes on in the log only";
    state.traceFileBroken = failed;
}

void openTraceFile(TraceState& state)
{
    if (s_lockedMutexSettings)
        return;
    const bool usable = traceFileUsable();
    if (!usable) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Mutex trace file " << QFileInfo(TraceFileName).absoluteFilePath()
                                             << " is not a regular file; it is not written";
        state.traceFileBroken = true;
    }
    s_lockedMutexSettings = QSharedPointer<QSettings>::create(usable ? TraceFileName : QString(), QSettings::IniFormat);
    // What an earlier run left behind says nothing about this one.
    s_lockedMutexSettings->clear();
}

} // namespace

void _KorMutexLocker::setLockedMutexConfigValues(const QString& name, const QMap<QString, QVariant>& values,
                                                 bool locked)
{
    TraceState& state = traceState();
    QMutexLocker locker(&state.lockedMutexLock);
    openTraceFile(state);
    QSettings& file = *s_lockedMutexSettings;
    file.beginGroup(GroupPrefix + name);
    const int thread = int(m_threadId);
    const QString queryKey = QueryPrefix + QString::number(thread);
    QMap<int, int>& waiting = s_waitingThreads[m_mutex.mutex];
    if (!locked) {
        ++waiting[thread];
        file.setValue(queryKey, QString(m_threadName + QStringLiteral("; ") + values.value(LockDateKey).toString()
                                        + QStringLiteral("; ")));
    } else {
        if (--waiting[thread] <= 0) {
            waiting.remove(thread);
            file.remove(queryKey);
        }
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            file.setValue(it.key(), it.value());
    }
    file.endGroup();
    syncTraceFile(state);
}

void _KorMutexLocker::removeLockedMutexConfigValues(const QString& name)
{
    TraceState& state = traceState();
    QMutexLocker locker(&state.lockedMutexLock);
    openTraceFile(state);
    QSettings& file = *s_lockedMutexSettings;
    const QString group = GroupPrefix + name;
    file.beginGroup(group);
    file.remove(ThreadNameKey);
    file.remove(ThreadIdKey);
    file.remove(LockDateKey);
    const bool empty = file.childKeys().isEmpty();
    file.endGroup();
    if (empty)
        file.remove(group);
    syncTraceFile(state);
}

} // namespace Kor::NS
