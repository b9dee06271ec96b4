#include "XCoreApplication.h"

#include "Application.h"
#include "CoreLog.h"
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

} // namespace

XCoreApplication::XCoreApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

XCoreApplication::~XCoreApplication() = default;

bool XCoreApplication::notify(QObject* receiver, QEvent* event)
{
    const QString className = QString::fromLatin1(receiver ? receiver->metaObject()->className() : "(null)");
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (const KorException& e) {
        coreLog(Kor::ALWAYS, 3) << className << ": Exception from Qt event handler (" << readableTypeName(typeid(e))
                                << "): " << e.what();
    } catch (const std::exception& e) {
        coreLog(Kor::ALWAYS, 3) << className << ": Non Kor exception from Qt event handler ("
                                << readableTypeName(typeid(e)) << "): " << e.what();
    } catch (...) {
        coreLog(Kor::ALWAYS, 3) << className << ": An unexpected error occured!";
    }
    coreLog(Kor::ALWAYS, 3) << "Closing application.";
    if (Application* app = Application::instance())
        app->quit();
    return false;
}

} // namespace Kor::NS
