#pragma once

// The application's state.

#include "ApplicationExit_p.h"
#include "LogSettings_p.h"
#include "ParameterRegistry_p.h"

#include <QCoreApplication>
#include <QRecursiveMutex>
#include <QSettings>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>

namespace Kor::NS {

class SetupConfigData;

class ApplicationPrivate
{
public:
    explicit ApplicationPrivate(QSharedPointer<QCoreApplication> app)
        : coreApplication(std::move(app)), parameterRegistry(std::make_unique<ParameterRegistry>()),
          logSettings(std::make_unique<LogSettings>(LogSettings().inForce()))
    {
    }

    QSharedPointer<QCoreApplication> coreApplication;
    std::unique_ptr<ParameterRegistry> parameterRegistry;
    QSharedPointer<QSettings> settings;
    QString moduleFileName;
    QString moduleName;
    QString modulePath;
    QString pid;
    QString pidFileName;
    QString settingsFileName;
    QString loggingPath;
    bool isService = false;
    QThread* keyboardReader = nullptr;
    // Set by the signal handler too (Platform::setQuitFlag).
    std::atomic<bool> quitting{false};
    bool allowMultipleInstances = false;
    bool reloadQueued = false; // main thread only
    // Complaints about settings found before the log file opened; logged
    // once it is open, so that they reach it.
    QStringList startNotes;
    // The log settings in force; the keyboard and reloads change them.
    std::unique_ptr<LogSettings> logSettings;

    // The set-up record: from the first setupConfig() call to close().
    static SetupConfigData* s_setupConfig;
    // Guards the settings object and the creation of the set-up record.
    static QRecursiveMutex s_settingsLock;
};

} // namespace Kor::NS
