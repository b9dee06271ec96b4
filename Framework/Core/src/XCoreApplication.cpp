#include "XCoreApplication_p.h"

#include "Application.h"
#include "CoreLog_p.h"
#include "KorException.h"

#include <cxxabi.h>

#include <cstdlib>
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

} // namespace

XCoreApplication::XCoreApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

XCoreApplication::~XCoreApplication() = default;

bool XCoreApplication::notify(QObject* receiver, QEvent* event)
{
    // Every event passes here: nothing is built unless a handler throws. The
    // meta-object is taken now, as the handler may have deleted the receiver.
    const QMetaObject* type = receiver ? receiver->metaObject() : nullptr;
    try {
        return QCoreApplication::notify(receiver, event);
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
    if (Application* app = Application::instance())
        app->quit();
    return false;
}

} // namespace Kor::NS
