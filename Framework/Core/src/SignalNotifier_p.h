#pragma once

#include "KorCoreExport.h"

#include "Signals.h"

#include <QObject>

namespace Kor::NS {

// Brings the signals the handlers caught to the thread that creates the
// notifier: the handlers only write a record to a pipe, and the notifier
// reads it there and emits received(), where logging and quitting are safe.
// On the signal pipe it installs the signal handlers if they are not yet.
class KORCORE_AUTOTEST_EXPORT SignalNotifier : public QObject
{
    Q_OBJECT
public:
    explicit SignalNotifier(Platform::SignalPipe pipe, QObject* parent = nullptr);
    ~SignalNotifier() override;

    // False when the signal handlers could not be installed or the pipe
    // does not exist.
    bool isValid() const;

signals:
    void received(int signalNumber);

private:
    Platform::SignalRecords m_records;
    bool m_valid = false;
};

} // namespace Kor::NS
