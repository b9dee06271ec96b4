#include "CrashLog.h"

#include "CrashDump.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace Kor::NS {

namespace {

struct ExceptionText
{
    QString type = QStringLiteral("Unknown");
    QString message = QStringLiteral("Unknown error");
};

QString demangled(const std::type_info& type)
{
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    const QString result = QString::fromUtf8(status == 0 && name ? name : type.name());
    std::free(name);
    return result;
}

ExceptionText describe(const std::exception_ptr& exception)
{
    ExceptionText text;
    if (!exception)
        return text;
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        text.type = demangled(typeid(e));
        text.message = QString::fromUtf8(e.what());
    } catch (const std::exception* e) {
        if (e) {
            text.type = demangled(typeid(*e)) + QStringLiteral(" [thrown as pointer]");
            text.message = QString::fromUtf8(e->what());
        }
    } catch (...) {
    }
    return text;
}

// Without an application object Qt cannot tell the path; the kernel can.
QString applicationPath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QString::fromLocal8Bit(Platform::executablePath());
}

QString moduleName(const QString& path)
{
    QString name = QFileInfo(path).fileName();
    if (name.endsWith(QLatin1String(".exe")))
        name.chop(4);
    return name;
}

} // namespace

void logUncaughtExceptionBeforeCrash(std::exception_ptr exception)
{
    const ExceptionText text = describe(exception);
    const QDateTime now = QDateTime::currentDateTime();
    const QString path = applicationPath();
    QFile file(QStringLiteral("%1.Crash.%2.log")
                   .arg(moduleName(path), now.toString(QStringLiteral("yyyy-MM-dd HHmmss.zzz"))));
    // Appended to, never replaced; but only a regular file: a FIFO would block.
    const QFileInfo existing(file.fileName());
    if ((existing.exists() && !existing.isFile()) || !file.open(QIODevice::Append))
        return;
    QTextStream out(&file);
    out << QFileInfo(path).fileName() << " crashed at " << now.toString(Qt::ISODate) << " ("
        << now.toUTC().toString(Qt::ISODate) << " UTC)" << Qt::endl;
    out << "Full path: " << path << Qt::endl;
    out << "PID was " << QCoreApplication::applicationPid() << Qt::endl;
    out << Qt::endl;
    out << "Uncaught exception of type " << text.type << ": " << text.message << Qt::endl;
    file.close();
}

bool prepareThreadForCrashDump()
{
    return Platform::prepareThreadForCrashDump();
}

} // namespace Kor::NS
