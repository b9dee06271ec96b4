#pragma once

#include "KorCoreExport.h"

#include <QObject>

#include <functional>
#include <memory>

namespace Kor::NS {

// Brings the closing and report signals to the thread that creates the
// notifier (the main thread): the handlers only write a record to a pipe,
// and the notifier reads it there and calls the callback, where logging and
// quitting are safe. Installs the signal handlers if they are not yet.
class KORCORE_AUTOTEST_EXPORT SignalNotifier : public QObject
{
    Q_OBJECT
public:
    // name as Linux spells it ("SIGINT"); closing tells a closing signal
    // from a report signal.
    using Callback = std::function<void(int signalNumber, const char* name, bool closing)>;

    explicit SignalNotifier(Callback callback, QObject* parent = nullptr);
    ~SignalNotifier() override;

    // False when the signal handlers could not be installed.
    bool isValid() const;

private slots:
    void readRecords();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Kor::NS
