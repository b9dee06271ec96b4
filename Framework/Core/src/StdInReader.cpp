#include "StdInReader_p.h"

#include "Console.h"
#include "CrashDump.h"
#include "Signals.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

#include <atomic>
#include <iostream>
#include <string>

namespace Kor::NS {

// State of the polling between steps. Touched on the object's thread, except
// for the raw-mode switch, which run() undoes from the reader thread.
struct StdInReader::Poller
{
    // Pulls key codes out of standard input, one at a time; -1 for none.
    int nextCode();

    Platform::KeyTranslator translator;
    std::string codes;
    std::size_t next = 0;
    int pendingPrefix = -1; // 0 or 224 whose second code has not come yet
    bool ended = false;

    QMutex modeLock;
    bool running = false;  // run() is inside its event loop
    std::atomic<bool> started{false};
    bool rawMode = false;

    void leaveRawMode()
    {
        if (rawMode)
            Platform::restoreTerminal();
        rawMode = false;
    }
};

int StdInReader::Poller::nextCode()
{
    if (next < codes.size())
        return static_cast<unsigned char>(codes[next++]);
    if (ended)
        return -1;
    unsigned char chunk[64];
    const int n = Platform::pollKey(chunk, int(sizeof chunk));
    if (n < 0) {
        ended = true;
        translator.reset();
        return -1;
    }
    codes.clear();
    next = 0;
    translator.translate(chunk, n, codes);
    return next < codes.size() ? static_cast<unsigned char>(codes[next++]) : -1;
}

StdInReader::StdInReader() : d(std::make_unique<Poller>()) {}

StdInReader::~StdInReader()
{
    quit();
    wait();
    QMutexLocker locker(&d->modeLock);
    d->leaveRawMode();
}

bool StdInReader::inputEnded() const
{
    return d->ended;
}

void StdInReader::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    {
        QMutexLocker locker(&d->modeLock);
        d->running = true;
    }
    QTimer* timer = new QTimer;
    connect(timer, &QTimer::timeout, this, &StdInReader::checkInput);
    timer->start(10);
    exec();
    timer->stop();
    delete timer;
    QMutexLocker locker(&d->modeLock);
    d->running = false;
    d->started = false;
    d->leaveRawMode();
}

// The first step decides between terminal and pipe and, for a terminal,
// switches it to raw mode for as long as the reader runs.
bool StdInReader::beginPolling()
{
    if (d->ended)
        return false;
    if (d->started)
        return true;
    QMutexLocker locker(&d->modeLock);
    if (!d->running)
        return false; // a tick that was still queued when run() ended
    const bool terminal = Platform::stdinIsTerminal();
    d->translator = Platform::KeyTranslator(terminal);
    d->rawMode = terminal && Platform::enterRawMode();
    d->started = true;
    return true;
}

void StdInReader::checkInput()
{
    if (!beginPolling())
        return;
    const int code = d->nextCode();
    if (code < 0)
        return;
    if (d->pendingPrefix >= 0) {
        const int prefix = d->pendingPrefix;
        d->pendingPrefix = -1;
        handleTwoCodeKey(prefix, code);
    } else if (code == 0 || code == 224) {
        const int second = d->nextCode();
        if (second < 0)
            d->pendingPrefix = code;
        else
            handleTwoCodeKey(code, second);
    } else {
        handleKey(code);
    }
}

void StdInReader::handleTwoCodeKey(int first, int second)
{
    // 224 keys (cursor and editing) and other 0 keys are not used.
    if (first == 0 && second >= 59 && second <= 68)
        emit fkeyRead(second - 58);
}

void StdInReader::handleKey(int code)
{
    const char c = char(code);
    if (code != 27)
        std::cout << c << std::flush;
    switch (code) {
    case 8:
        emit backspaceRead();
        if (!m_buffer.isEmpty())
            m_buffer.chop(1);
        break;
    case 10:
        emit linefeedRead();
        finishLine();
        break;
    case 13:
        emit carriagereturnRead();
        finishLine();
        break;
    case 27:
        emit escapeRead();
        break;
    default:
        emit charRead(c);
        m_buffer.append(QChar::fromLatin1(c));
        break;
    }
}

void StdInReader::finishLine()
{
    if (m_buffer.isEmpty())
        return;
    emit lineRead(m_buffer);
    m_buffer.clear();
}

} // namespace Kor::NS
