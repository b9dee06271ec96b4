#include "XCoreApplication_p.h"

#include "CoreLog_p.h"
#include "HostProvider_p.h"
#include "KorException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace Kor::NS {

namespace {

QString readableTypeName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return QString::fromUtf8(status == 0 && name ? name.get() : type.name());
}

QLatin1String classNameOf(const QMetaObject* type)
{
    return QLatin1String(type ? type->className() : "(null)");
}

// Logs what a handler threw and asks the program to close in order; the
// event counts as not handled.
[[gnu::noinline, gnu::cold]] void handlerFailed(const QMetaObject* type, std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const KorException& e) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << classNameOf(type) << ": Exception from Qt event handler ("
                                             << readableTypeName(typeid(e)) << "): " << e.what();
    } catch (const std::exception& e) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << classNameOf(type) << ": Non Kor exception from Qt event handler ("
                                             << readableTypeName(typeid(e)) << "): " << e.what();
    } catch (...) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << classNameOf(type) << ": An unexpected error occured!";
    }
    coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Closing application.";
    if (HostProvider* host = hostProvider())
        host->quit();
}

} // namespace

XCoreApplication::XCoreApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

XCoreApplication::~XCoreApplication() = default;

bool XCoreApplication::notify(QObject* receiver, QEvent* event)
{
    // Every event passes here: the hot path only calls on. The meta-object
    // is taken now, as a failing handler may have deleted its receiver.
    const QMetaObject* type = receiver ? receiver->metaObject() : nullptr;
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (...) {
        handlerFailed(type, std::current_exception());
        return false;
    }
}

} // namespace Kor::NS
