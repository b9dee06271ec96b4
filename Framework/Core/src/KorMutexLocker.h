#pragma once

#include "KorCoreExport.h"

#include <QMap>
#include <QString>
#include <QVariant>

class QMutex;
class QRecursiveMutex;

namespace Kor::NS {

// Free for the caller's own bookkeeping; the library does not read it.
struct KORCORE_EXPORT _KorMutexLockerHelper
{
    _KorMutexLockerHelper() = default;
    _KorMutexLockerHelper(const char* first, int number, const char* second)
        : m_first(first), m_second(second), m_number(number)
    {
    }
    _KorMutexLockerHelper(const _KorMutexLockerHelper&) = default;
    _KorMutexLockerHelper& operator=(const _KorMutexLockerHelper&) = default;
    _KorMutexLockerHelper& operator=(_KorMutexLockerHelper&&) = default;

    const char* m_first = nullptr;
    const char* m_second = nullptr;
    int m_number = 0;
};

// Locks a QMutex or QRecursiveMutex for its lifetime. With "Loglevel/LogMutex"
// set it logs each lock and unlock; with "Loglevel/LogMutexConfig" set it
// keeps "LockedMutexConfiguration.ini" in the working folder up to date with
// the holder and the waiting threads of every traced mutex.
//
// The two settings are read through the application's settings and kept:
// a change made through Application (changeSetting, removeSettings,
// resetSettings) or a new application object takes effect at the next
// locker constructed.
//
// Not copyable: a copy would unlock the mutex a second time. Moving hands
// the lock over; the moved-from locker unlocks nothing.
class KORCORE_EXPORT _KorMutexLocker
{
public:
    explicit _KorMutexLocker(QMutex* mutex);
    explicit _KorMutexLocker(QRecursiveMutex* mutex);
    _KorMutexLocker(const _KorMutexLocker&) = delete;
    _KorMutexLocker& operator=(const _KorMutexLocker&) = delete;
    _KorMutexLocker(_KorMutexLocker&& other) noexcept;
    ~_KorMutexLocker();

    static void registerMutex(QMutex* mutex, const QString& name);
    static void registerMutex(QRecursiveMutex* mutex, const QString& name);
    static void unregisterMutex(QMutex* mutex);
    static void unregisterMutex(QRecursiveMutex* mutex);

private:
    struct MutexPWrapper
    {
        void* mutex = nullptr;
        bool recursive = false;
        bool operator<(const MutexPWrapper& other) const { return mutex < other.mutex; }
    };

    // Off the common path: the settings not read yet, or tracing on.
    void lockSlow();
    void lockTraced(bool logMutex, bool logMutexConfig);
    void unlockTraced();

    static QString mutexName(MutexPWrapper mutex);
    static void registerMutex(MutexPWrapper mutex, const QString& name);
    static void unregisterMutex(MutexPWrapper mutex);
    void setLockedMutexConfigValues(const QString& name, const QMap<QString, QVariant>& values, bool locked);
    void removeLockedMutexConfigValues(const QString& name);

    QString m_mutexName;
    QString m_threadName;
    qint64 m_threadId = 0;
    bool m_logMutex = false;
    bool m_logMutexConfig = false;
    MutexPWrapper m_mutex;
    _KorMutexLockerHelper m_helper;
};

} // namespace Kor::NS
