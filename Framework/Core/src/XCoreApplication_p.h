#pragma once

// Internal: the Qt application of a ConsoleApplication.

#include <QCoreApplication>

namespace Kor::NS {

// Catches what an event handler throws, logs it and closes the program in order.
class XCoreApplication : public QCoreApplication
{
    Q_OBJECT
public:
    XCoreApplication(int& argc, char** argv);
    ~XCoreApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace Kor::NS
