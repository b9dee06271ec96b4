#pragma once

// Shared set-up of the fuzz targets: one Qt application object per process
// and a private folder for targets that must go through a file.

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace fuzz {

inline QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

inline const QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

// Replaces the file's content with the input; false when it cannot be written.
inline bool writeInput(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size);
}

} // namespace fuzz
