#pragma once

// Internal: the PID file that keeps a second instance of a program out.

#include "KorCoreExport.h"

#include <Kor/ShareStream.h>

#include <QByteArray>
#include <QString>

namespace Kor::NS {

// The holder writes its process id into the file and keeps it open, with a
// whole-file lock, for its whole run; a second instance cannot take the lock
// and reads the holder's id instead. The kernel drops the lock when a process
// dies, so a file left behind by a crashed instance is taken over.
//
// The file is removed while the lock is still held, and a new holder checks
// after locking that the file it locked is still the one the path names: an
// instance that opened the file just before it was removed then tries again
// on the new file instead of holding a removed one beside a third instance.
class KORCORE_AUTOTEST_EXPORT PidFile
{
public:
    enum AcquireResult {
        Acquired,    // the file is ours and holds our id
        HeldByOther, // another instance holds it; holderPid() tells which
        Failed,      // the file can be neither written nor read
    };

    explicit PidFile(const QString& path);
    PidFile(const PidFile&) = delete;
    PidFile& operator=(const PidFile&) = delete;
    virtual ~PidFile(); // releases

    AcquireResult acquire(const QString& pid);
    // After HeldByOther: the first number of the file (0 when it has none).
    qint64 holderPid() const { return m_holderPid; }
    // After Failed: the errno of the open that failed (0 when the file kept
    // being removed under us).
    int error() const { return m_error; }
    bool isHeld() const { return m_stream.is_open(); }
    // Removes the file, then unlocks and closes it. false when a held file
    // could not be removed; true also when nothing was held.
    bool release();

    enum Step {
        Locked,        // acquire(): the file is open and locked, not yet checked
        RemovedLocked, // release(): the file is removed, the lock still held
    };

protected:
    // Called between the steps of the protocol where another instance may
    // come in; lets tests play that instance.
    virtual void between(Step) {}

private:
    AcquireResult readHolder();

    QString m_path;
    QByteArray m_encodedPath;
    Kor::ShareStream m_stream;
    qint64 m_holderPid = 0;
    int m_error = 0;
};

} // namespace Kor::NS
