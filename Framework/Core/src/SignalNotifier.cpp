#include "SignalNotifier_p.h"

#include "Signals.h"

#include <QPointer>
#include <QSocketNotifier>

namespace Kor::NS {

struct SignalNotifier::Private
{
    Callback callback;
    QSocketNotifier* notifier = nullptr;
};

SignalNotifier::SignalNotifier(Callback callback, QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    d->callback = std::move(callback);
    if (!Platform::installSignalHandlers())
        return;
    d->notifier = new QSocketNotifier(Platform::signalPipeReadFd(), QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, &SignalNotifier::readRecords);
}

SignalNotifier::~SignalNotifier() = default;

bool SignalNotifier::isValid() const
{
    return d->notifier != nullptr;
}

void SignalNotifier::readRecords()
{
    constexpr int recordSize = Platform::signalRecordSize;
    unsigned char buffer[16 * recordSize];
    const int n = Platform::readSignalPipe(buffer, int(sizeof buffer));
    // The callback may quit and delete us; copy what the loop needs.
    const Callback callback = d->callback;
    const QPointer<SignalNotifier> alive(this);
    for (int offset = 0; offset + recordSize <= n && alive; offset += recordSize) {
        int signalNumber = 0;
        if (!Platform::decodeSignalRecord(buffer + offset, recordSize, &signalNumber) || !callback)
            continue;
        callback(signalNumber, Platform::signalName(signalNumber),
                 Platform::signalKind(signalNumber) == Platform::SignalKind::Closing);
    }
}

} // namespace Kor::NS
