#pragma once

// Internal: the "Loglevel" keys as one value, read the same way at the start
// and at every reload, and handed to the log module in one place.

#include "KorCoreExport.h"

#include <Kor/LogTypes.h>

#include <QStringList>
#include <QVariant>

class QSettings;

namespace Kor::NS {

class Application;

class KORCORE_AUTOTEST_EXPORT LogSettings
{
public:
    enum class Mode { Console, Service };
    // The start fills in and writes back what is missing and repairs bad
    // levels; a reload takes only the keys it finds and rejects bad values.
    enum class Occasion { Start, Reload };

    // Where the keys are read; the keys are full ones ("Loglevel/Global").
    class Source
    {
    public:
        virtual ~Source() = default;
        virtual bool contains(const QString& key) = 0;
        // A missing key reads as fallback and is stored unless hidden.
        virtual QVariant value(const QString& key, const QVariant& fallback, bool hidden) = 0;
        virtual void change(const QString& key, const QVariant& value) = 0;
    };

    struct Reading;

    // What is in force: the module's severities and layout, with the rest
    // of this value as it is.
    LogSettings inForce() const;

    // A level as the start reads it: a missing key gets fallback, and one that
    // is no level TRACE; both are written back, as is a name not in capitals.
    static int startLevel(Source& source, const QString& key, int fallback);
    // Keys the occasion does not read keep base's value.
    static Reading read(Source& source, Mode mode, const LogSettings& base, Occasion occasion);
    // Without previous everything goes to the module as the start sets it
    // up, and nothing is said; with it only what differs, and the result
    // says what ("Global INFO -> TRACE, ..." or "nothing changed").
    static QString apply(const LogSettings& next, const LogSettings* previous);

    bool operator==(const LogSettings&) const = default;

    Mode mode = Mode::Console;
    int global = Kor::TRACE;
    int logFile = Kor::TRACE;
    int console = Kor::TRACE;
    int debugWindow = Kor::TRACE;
    int journal = Kor::INFO;
    bool threadId = false;
    qint64 nameSize = 0;
    bool nameDotted = false;
    bool nameSeparated = false;
    bool asyncWriting = true;
    int asyncBufferSize = 10485760;
    bool flush = true;
    qint64 warningPercent = 100;
    int bufferSize = 4096;
    // 0 keeps every history file.
    qint64 historyMaxFiles = 0;
    qint64 historyMaxMegabytes = 0;
};

struct LogSettings::Reading
{
    LogSettings settings;
    // One per bad value, for the log.
    QStringList warnings;
};

// The application's settings: a key read with a default that is missing gets
// the default written back.
class KORCORE_AUTOTEST_EXPORT ApplicationLogSource final : public LogSettings::Source
{
public:
    explicit ApplicationLogSource(Application& app) : m_app(app) {}
    bool contains(const QString& key) override;
    QVariant value(const QString& key, const QVariant& fallback, bool hidden) override;
    void change(const QString& key, const QVariant& value) override;

private:
    Application& m_app;
};

// A settings file as read now; nothing is written to it.
class KORCORE_AUTOTEST_EXPORT FileLogSource final : public LogSettings::Source
{
public:
    explicit FileLogSource(const QSettings& file) : m_file(file) {}
    bool contains(const QString& key) override;
    QVariant value(const QString& key, const QVariant& fallback, bool hidden) override;
    void change(const QString&, const QVariant&) override {}

private:
    const QSettings& m_file;
};

} // namespace Kor::NS
