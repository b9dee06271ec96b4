#pragma once

#include "KorCoreExport.h"

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <exception>

namespace Kor::NS {

// Root of the library's exceptions. what() is a private copy of the message
// (or "Unknown exception" when none is stored); the byte message keeps the
// QByteArray or QString the exception was built from.
class KORCORE_EXPORT KorException : public std::exception
{
public:
    KorException(const char* message);
    KorException(const QByteArray& message = QByteArray());
    KorException(const QString& message);
    KorException(const KorException& other);
    KorException(KorException&& other) noexcept;
    KorException& operator=(const KorException& other);
    KorException& operator=(KorException&& other) noexcept;
    ~KorException() override;

    const char* what() const noexcept override;
    bool isNull();
    const QByteArray& byteMessage() const { return m_byteMessage; }

private:
    void setText(const char* text, qsizetype length) noexcept;

    char* m_text = nullptr;
    QByteArray m_byteMessage;
};

#define KOR_DECLARE_EXCEPTION(Name)                                \
    class KORCORE_EXPORT Name : public KorException                \
    {                                                              \
    public:                                                        \
        Name(const char* message) : KorException(message) {}       \
        Name(const QByteArray& message = QByteArray())             \
            : KorException(message) {}                             \
    };

KOR_DECLARE_EXCEPTION(CallPoolIdException)
KOR_DECLARE_EXCEPTION(InvalidArgumentException)
KOR_DECLARE_EXCEPTION(MachineIdException)
KOR_DECLARE_EXCEPTION(MultipleApplicationException)
KOR_DECLARE_EXCEPTION(NotImplementedException)
KOR_DECLARE_EXCEPTION(RuntimeException)
KOR_DECLARE_EXCEPTION(UserInputException)
#undef KOR_DECLARE_EXCEPTION

class KORCORE_EXPORT FileException : public KorException
{
public:
    FileException(QFileDevice::FileError error, const char* message)
        : KorException(message), m_error(error) {}
    FileException(QFileDevice::FileError error, const QByteArray& message)
        : KorException(message), m_error(error) {}

    QFileDevice::FileError error() const { return m_error; }

private:
    QFileDevice::FileError m_error;
};

class KORCORE_EXPORT DirNotFoundException : public FileException
{
public:
    DirNotFoundException(const char* message) : FileException(QFileDevice::NoError, message) {}
    DirNotFoundException(const QByteArray& message = QByteArray())
        : FileException(QFileDevice::NoError, message) {}
};

#define KOR_DECLARE_FILE_EXCEPTION(Name)                                            \
    class KORCORE_EXPORT Name : public FileException                                \
    {                                                                               \
    public:                                                                         \
        Name(QFileDevice::FileError error, const char* message)                     \
            : FileException(error, message) {}                                      \
        Name(QFileDevice::FileError error, const QByteArray& message)               \
            : FileException(error, message) {}                                      \
    };

KOR_DECLARE_FILE_EXCEPTION(FileCloseException)
KOR_DECLARE_FILE_EXCEPTION(FileCopyException)
KOR_DECLARE_FILE_EXCEPTION(FileNotFoundException)
KOR_DECLARE_FILE_EXCEPTION(FileOpenException)
KOR_DECLARE_FILE_EXCEPTION(FileTypeException)
#undef KOR_DECLARE_FILE_EXCEPTION

} // namespace Kor::NS
