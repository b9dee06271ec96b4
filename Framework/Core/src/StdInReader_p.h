#pragma once

#include "KorCoreExport.h"

#include <QString>
#include <QThread>

#include <memory>

namespace Kor::NS {

// Polls the console for keys while the program runs. The thread only drives
// a 10 ms timer; the object itself stays on the thread that created it, so
// every polling step, the echo and all signals happen there. One key per
// step: 0 and 224 introduce a two-code key, as on a PC console.
class KORCORE_AUTOTEST_EXPORT StdInReader : public QThread
{
    Q_OBJECT
public:
    StdInReader();
    ~StdInReader() override;

    // Standard input has ended or was closed; polling has stopped for good.
    bool inputEnded() const;

signals:
    void fkeyRead(int fkey);
    void escapeRead();
    void backspaceRead();
    void linefeedRead();
    void carriagereturnRead();
    void charRead(char c);
    void lineRead(const QString& line);

protected:
    void run() override;

private slots:
    void checkInput();

private:
    struct Poller;

    bool beginPolling();
    void handleKey(int code);
    void handleTwoCodeKey(int first, int second);
    void finishLine();

    QString m_buffer;
    std::unique_ptr<Poller> d;
};

} // namespace Kor::NS
