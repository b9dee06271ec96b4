#include "SignalNotifier_p.h"

#include <QPointer>
#include <QSocketNotifier>

namespace Kor::NS {

SignalNotifier::SignalNotifier(Platform::SignalPipe pipe, QObject* parent) : QObject(parent), m_records(pipe)
{
    if (pipe == Platform::SignalPipe::Signals && !Platform::installSignalHandlers())
        return;
    if (m_records.fd() < 0)
        return;
    m_valid = true;
    // Records that came before the notifier existed wake it at once.
    auto* notifier = new QSocketNotifier(m_records.fd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        // A receiver may quit and delete us.
        const QPointer<SignalNotifier> alive(this);
        for (const int signalNumber : m_records.take()) {
            if (!alive)
                return;
            emit received(signalNumber);
        }
    });
}

SignalNotifier::~SignalNotifier() = default;

bool SignalNotifier::isValid() const
{
    return m_valid;
}

} // namespace Kor::NS
