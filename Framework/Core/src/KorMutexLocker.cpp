#include "KorMutexLocker.h"
#include "KorMutexLocker_p.h"

#include "Application.h"
#include "CoreLog_p.h"
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

// The two settings, read once per settings generation: reading them means
// the settings lock and a lookup in the settings object, far more than the
// lock itself costs. Bit 0 LogMutex, bit 1 LogMutexConfig, the rest the
// generation they were read in.
std::atomic<quint64> s_settingsGeneration{ 1 };
std::atomic<quint64> s_cachedFlags{ 0 };
std::atomic<Application*> s_cachedFor{ nullptr };
constexpr quint64 LogMutexBit = 1;
constexpr quint64 LogMutexConfigBit = 2;
constexpr int GenerationShift = 2;

void readTraceSettings(bool& logMutex, bool& logMutexConfig)
{
    Application* app = Application::instance();
    if (!app) {
        logMutex = logMutexConfig = false;
        return;
    }
    const quint64 generation = s_settingsGeneration.load(std::memory_order_acquire);
    const quint64 cached = s_cachedFlags.load(std::memory_order_acquire);
    if ((cached >> GenerationShift) == generation && s_cachedFor.load(std::memory_order_acquire) == app) {
        logMutex = cached & LogMutexBit;
        logMutexConfig = cached & LogMutexConfigBit;
        return;
    }
    logMutex = app->setting(LogMutexKey, false, false).toBool();
    logMutexConfig = app->setting(LogMutexConfigKey, false, false).toBool();
    s_cachedFor.store(app, std::memory_order_release);
    s_cachedFlags.store((generation << GenerationShift) | (logMutex ? LogMutexBit : 0)
                            | (logMutexConfig ? LogMutexConfigBit : 0),
                        std::memory_order_release);
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
    s_settingsGeneration.fetch_add(1, std::memory_order_acq_rel);
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
    : _KorMutexLocker(MutexPWrapper{ mutex, false })
{
}

_KorMutexLocker::_KorMutexLocker(QRecursiveMutex* mutex)
    : _KorMutexLocker(MutexPWrapper{ mutex, true })
{
}

_KorMutexLocker::_KorMutexLocker(MutexPWrapper mutex)
{
    readTraceSettings(m_logMutex, m_logMutexConfig);
    m_mutex = mutex;
    m_helper = _KorMutexLockerHelper();
    if (!m_mutex.mutex)
        return;
    if (m_logMutex || m_logMutexConfig) {
        m_threadName = QThread::currentThread()->objectName();
        m_threadId = Platform::currentThreadId();
        m_mutexName = mutexName(m_mutex);
        if (m_mutexName.isEmpty())
            m_mutexName = QString::number(quintptr(m_mutex.mutex));
    }
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
