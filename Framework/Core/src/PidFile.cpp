#include "PidFile_p.h"

#include <QFile>

namespace Kor::NS {

namespace {
// Each retry means the file was removed between our open and our lock; a
// handful of those in a row means something else keeps removing it.
constexpr int kMaxAttempts = 8;
constexpr int kPermissions = 0644;
} // namespace

PidFile::PidFile(const QString& path) : m_path(path), m_encodedPath(QFile::encodeName(path)) {}

PidFile::~PidFile()
{
    release();
}

PidFile::AcquireResult PidFile::acquire(const QString& pid)
{
    release();
    m_holderPid = 0;
    m_error = 0;
    const char* path = m_encodedPath.constData();
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        if (!m_stream.open(path, Kor::ShareStream::Mode_ReadWrite, Kor::ShareStream::Share_DenyWrite, kPermissions)) {
            // A lock held by another instance is no failure of ours; any
            // other refusal (a folder we may not write) is the cause to name.
            m_error = m_stream.error();
            return readHolder();
        }
        between(Locked);
        if (m_stream.is_linked_at(path)) {
            m_stream << pid.toLatin1().constData() << '\n';
            m_stream.flush();
            return Acquired;
        }
        m_stream.close();
    }
    return Failed;
}

PidFile::AcquireResult PidFile::readHolder()
{
    Kor::ShareStream other;
    if (!other.open(m_encodedPath.constData(), Kor::ShareStream::Mode_Read, Kor::ShareStream::Share_DenyWrite,
                    kPermissions))
        return Failed;
    long long holder = 0;
    other >> holder;
    m_holderPid = holder;
    return HeldByOther;
}

bool PidFile::release()
{
    if (!m_stream.is_open())
        return true;
    // Only our own file is removed: once it is gone from the path, the path
    // may already name the next instance's file.
    bool removed = true;
    if (m_stream.is_linked_at(m_encodedPath.constData()))
        removed = QFile::remove(m_path);
    between(RemovedLocked);
    m_stream.close();
    return removed;
}

} // namespace Kor::NS
