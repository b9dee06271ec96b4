#pragma once

#include "KorCoreExport.h"
#include "Parameter.h"
#include "VersionInfo.h"

#include <Kor/LogTypes.h>
#include <Kor/Uuid.h>

#include <QCoreApplication>
#include <QList>
#include <QMap>
#include <QObject>
#include <QRecursiveMutex>
#include <QSettings>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <memory>

namespace Kor::NS {

class ApplicationPrivate;
class LogSettings;
class ParameterRegistry;
class SetupConfigData;

// The frame of every program of the family: one object per process that
// runs start-up, the command line, logging, the PID file and the event loop.
class KORCORE_EXPORT Application : public QObject
{
    Q_OBJECT
public:
    explicit Application(QSharedPointer<QCoreApplication> app);
    ~Application() override;

    static Application* instance();

    // Loads the identities before anything else; throws MachineIdException.
    static void prepare(bool flag);
    // Shuts the log module down and removes the crash handler.
    static void finish();

    int main();
    int run(bool asService);
    int exec();
    bool isService() const;
    // A quit was requested: by quit(), or by a closing signal as soon as it
    // arrives, also before the event loop runs.
    bool quitting();

    virtual void init();
    virtual void close();

    // Parameters
    void registerParameter(const QString& longName, const QString& shortName, const QString& propertyName,
                           const QString& functionName, Parameter::Type type, const QString& description);
    const QList<QSharedPointer<Parameter>>& parameters() const;
    const QList<QString>& arguments() const;

    // Identity of the program
    const QString& moduleFileName() const;
    const QString& moduleName() const;
    const QString& modulePath() const;
    const QString& serviceName() const;
    const QString& serviceDescription() const;
    const QString& serviceDependencies() const;
    const VersionType& moduleVersion() const;
    QString moduleVersionString() const;
    const VersionType& dllVersion(const QString& name) const;
    QString dllVersionString(const QString& name) const;

    static void registerAppVersion(const QString& name, const VersionType& version, const QString& serviceName,
                                   const QString& serviceDescription, const QString& serviceDependencies);
    static void registerAppVersion(const QString& name, unsigned high, unsigned low, unsigned build,
                                   const QString& serviceName, const QString& serviceDescription,
                                   const QString& serviceDependencies);
    static void registerDLLVersion(const QString& name, const VersionType& version);
    static void registerDLLVersion(const QString& name, unsigned high, unsigned low, unsigned build);

    // Logging
    void setLoggingPath(QString path);
    const QString& getLoggingPath() const;
    Kor::LogSeverity getLogLevel(QString name);
    void setAllowMultipleInstances(bool allow);

    // Settings
    const QString& settingsFileName() const;
    QVariant setting(const QString& key, const QVariant& defaultValue, bool hidden);
    Kor::Uuid setting(const QString& key, const Kor::Uuid& defaultValue, bool hidden);
    QMap<QString, QVariant> settings(const QString& group);
    bool containsSetting(const QString& key);
    bool containsSettingGroup(const QString& group);
    bool changeSetting(const QString& key, const QVariant& value);
    bool changeSetting(const QString& key, const Kor::Uuid& value);
    bool changeSettings(const QMap<QString, QVariant>& values);
    bool changeSettings(const QString& group, const QMap<QString, QVariant>& values);
    void removeSetting(const QString& key);
    void removeSettings(const QString& key);
    void removeSettings(const QList<QString>& keys);
    void resetSettings();

    // Machine identity and the machine-wide set-up
    static const Kor::Uuid& getMachineId();
    static const Kor::Uuid& getCallPoolId();
    static void setSimulatedMachineId(const Kor::Uuid& id);
    QString updaterConfigPath() const;
    QString updaterConfigPath(const QString& fileName) const;
    static const SetupConfigData* setupConfig();
    void initDataPaths();
    static bool isIPv4Enabled();
    static bool isIPv6Enabled();
    static const QString& getPrefferedLocalAddress();

public slots:
    // Both may be called from any thread, before or while the event loop runs.
    void quit();
    void exit(int returnCode = 0);
    virtual Parameter::ProcessState setINIFile(QVariant value);

protected:
    virtual QString defaultWorkingDirectory();
    virtual QString defaultPIDFileDirectory();
    virtual bool isHistoryLogging();

    static Application* s_pInstance;
    static VersionInfo s_AppVersion;
    static QMap<QString, VersionInfo> s_DLLVersions;
    static Kor::Uuid s_MachineId;
    static Kor::Uuid s_CallPoolId;
    static QString s_UpdaterConfigPath;

private slots:
    virtual Parameter::ProcessState printHelp();
    virtual Parameter::ProcessState printVersion();
    virtual Parameter::ProcessState setWorkingDirectory(QVariant value);
    virtual Parameter::ProcessState setPIDFile(QVariant value);
    virtual Parameter::ProcessState activateCrashDump();
    virtual Parameter::ProcessState activateKeyboard();
    virtual Parameter::ProcessState installService(QVariantList values, bool allowInteraction);
    virtual Parameter::ProcessState installInteractiveService(QVariantList values);
    virtual Parameter::ProcessState installNonInteractiveService(QVariantList values);
    virtual Parameter::ProcessState uninstallService();
    virtual Parameter::ProcessState startService();
    virtual Parameter::ProcessState stopService();
    virtual Parameter::ProcessState statusService();
    virtual void doClose();

protected slots:
    // The console commands. A host that adds its own overrides them and
    // hands the lines it does not know to these.
    virtual void keyboardInput(int fkey);
    virtual void keyboardInput(const QString& line);

private:
    // false when the settings live on no file (none named, or not a regular file).
    bool initSettings();
    void setSignaling();
    void handleSignal(int signalNumber);
    void startLogging(const QString& logFile);
    void configureLogging(bool asService);
    // SIGHUP in service mode: one reload at a time, on the main thread; a
    // request during a reload brings one more after it.
    void requestReload();
    void reloadLogSettings();
    QString chooseLogFile();
    QString shortModuleName() const;

    // The state lives in Application_p.h, so that it can change without
    // changing this class's size.
    std::unique_ptr<ApplicationPrivate> d;
};

// Name of a severity; every value above 4 is "DISABLED".
KORCORE_EXPORT QString severityName(int severity);

} // namespace Kor::NS
