#include "SetupConfigData.h"

#include "ConfiguredPath_p.h"
#include "CoreLog_p.h"
#include "HostProvider_p.h"

#include <Kor/KorString.h>
#include <Kor/SocketAddress.h>

#include <QDir>

#include <mutex>

namespace Kor::NS {

Kor::Section s_setupSection;

namespace {
// Shared by copies: the address is the machine's, not the record's.
struct PreferredAddress
{
    std::once_flag once;
    QString address;
};

// The data folders, in the order they are created.
enum Folder {
    ActiveCompressions, ActiveRecordings, FinishedRecordings, FinishedConversations, CallPool,
    InvalidRecordings, InvalidMetadata, PackageCache, DeviceCache, ExportTemp, FinishedImport,
    InvalidImport, PackagesSize, RcInfos, RcInfosFailed, EmotionDetection, AudioAnalysis,
    Notifications, ActiveImports, ActiveRebuilds, FolderCount
};

// Below the data root, by Folder.
const char* const folderNames[FolderCount] = {
    "ActiveCompressions", "ActiveRecordings", "FinishedRecordings", "FinishedConversations", "CallPool",
    "InvalidRecordings", "InvalidMetadata", "PackageCache", "DeviceCache", "Export", "FinishedImports",
    "InvalidImports", "PackagesSizePath", "RCInfos", "RCInfos/Failed", "EmotionDetection", "AudioAnalysis",
    "Notifications", "ActiveImports", "ActiveRebuilds",
};
} // namespace

class SetupConfigDataPrivate : public QSharedData
{
public:
    bool setupXmlFound = false;
    QString installDirPath;
    QString driveDirPath;
    QString dataDirPath;
    QString logDirPath;
    QString korDataPath;
    QString databasePath;
    QString databaseType;
    QList<QString> aipHosts;
    QString cipherFilter;
    QString folders[FolderCount];
    std::shared_ptr<PreferredAddress> preferredLocalAddress;
};

namespace {
// Why the last read failed; said again once logging runs.
QString g_readError;

void logLoadFailure(const QString& path)
{
    coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Failed to load setup config at " << path;
    if (!g_readError.isEmpty())
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Setup config not usable: " << g_readError;
}
} // namespace

SetupConfigData::SetupConfigData() : d(new SetupConfigDataPrivate)
{
    const QString path = setupFilePath();
    if (!s_setupSection.ReadFile(path.toLocal8Bit().constData(), false, Kor::Section::s_defaultReadCharset,
                                 Kor::String::s_defaultCharset)) {
        g_readError = QString::fromUtf8(s_setupSection.lastError().c_str());
        logLoadFailure(path);
        return;
    }
    g_readError.clear();
    d->setupXmlFound = true;
    coreLog(Kor::TRACE, Kor::LOG_DETAIL) << "Loaded setup config from " << path;
    d->dataDirPath = settingText("datadir");
    d->driveDirPath = settingText("drivedir");
    d->installDirPath = settingText("installdir");
    d->logDirPath = settingText("logdir");
    d->korDataPath = settingText("kordata");
    d->databasePath = settingText("kordatabase");
    d->databaseType = settingText("dbtype");
    const QString hosts = settingText("AIPList");
    if (!hosts.isEmpty())
        d->aipHosts = hosts.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    d->cipherFilter = settingText("trmNativeDisabledCipherSuites");
}

SetupConfigData::SetupConfigData(const SetupConfigData& other) = default;
SetupConfigData::SetupConfigData(SetupConfigData&& other) noexcept = default;
SetupConfigData& SetupConfigData::operator=(const SetupConfigData& other) = default;
SetupConfigData& SetupConfigData::operator=(SetupConfigData&& other) noexcept = default;
SetupConfigData::~SetupConfigData() = default;

bool SetupConfigData::setupXmlFound() const { return d->setupXmlFound; }
const QString& SetupConfigData::installDirPath() const { return d->installDirPath; }
const QString& SetupConfigData::driveDirPath() const { return d->driveDirPath; }
const QString& SetupConfigData::dataDirPath() const { return d->dataDirPath; }
const QString& SetupConfigData::logDirPath() const { return d->logDirPath; }
const QString& SetupConfigData::korDataPath() const { return d->korDataPath; }
const QString& SetupConfigData::databasePath() const { return d->databasePath; }
const QString& SetupConfigData::databaseType() const { return d->databaseType; }
const QList<QString>& SetupConfigData::aipHosts() const { return d->aipHosts; }
const QString& SetupConfigData::cipherFilter() const { return d->cipherFilter; }

const QString& SetupConfigData::activeRecordingsDirPath() const { return d->folders[ActiveRecordings]; }
const QString& SetupConfigData::finishedRecordingsDirPath() const { return d->folders[FinishedRecordings]; }
const QString& SetupConfigData::finishedConversationsDirPath() const { return d->folders[FinishedConversations]; }
const QString& SetupConfigData::callPoolDirPath() const { return d->folders[CallPool]; }
const QString& SetupConfigData::invalidRecordingsDirPath() const { return d->folders[InvalidRecordings]; }
const QString& SetupConfigData::invalidMetadataDirPath() const { return d->folders[InvalidMetadata]; }
const QString& SetupConfigData::packageCacheDirPath() const { return d->folders[PackageCache]; }
const QString& SetupConfigData::deviceCacheDirPath() const { return d->folders[DeviceCache]; }
const QString& SetupConfigData::exportTempDirPath() const { return d->folders[ExportTemp]; }
const QString& SetupConfigData::finishedImportDirPath() const { return d->folders[FinishedImport]; }
const QString& SetupConfigData::invalidImportDirPath() const { return d->folders[InvalidImport]; }
const QString& SetupConfigData::activeCompressionsDirPath() const { return d->folders[ActiveCompressions]; }
const QString& SetupConfigData::packagesSizeDirPath() const { return d->folders[PackagesSize]; }
const QString& SetupConfigData::rcInfosDirPath() const { return d->folders[RcInfos]; }
const QString& SetupConfigData::rcInfosFailedDirPath() const { return d->folders[RcInfosFailed]; }
const QString& SetupConfigData::emotionDetectionDirPath() const { return d->folders[EmotionDetection]; }
const QString& SetupConfigData::notificationsDirPath() const { return d->folders[Notifications]; }
const QString& SetupConfigData::audioAnalysisDirPath() const { return d->folders[AudioAnalysis]; }
const QString& SetupConfigData::activeImportsDirPath() const { return d->folders[ActiveImports]; }
const QString& SetupConfigData::activeRebuildsDirPath() const { return d->folders[ActiveRebuilds]; }

QString SetupConfigData::setupFilePath()
{
    const HostProvider* host = hostProvider();
    return host ? host->updaterConfigPath(QStringLiteral("setup.xml")) : QString();
}

QString SetupConfigData::settingText(const char* key)
{
    const Kor::String text = s_setupSection["Setup"]["Settings"][key].getText();
    return QString::fromUtf8(text.c_str(), qsizetype(text.size())).trimmed();
}

void SetupConfigData::initAfterLogCreation()
{
    if (!d->setupXmlFound) {
        logLoadFailure(setupFilePath());
        return;
    }
    applyAllowedProtocols();
}

void SetupConfigData::applyAllowedProtocols()
{
    Kor::SocketAddress::s_AllowedTypes = 1;
    const Kor::Section element = s_setupSection["Setup"]["Settings"]["allowed_protocols"];
    if (!element.isValid()) {
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Missing allowed_protocols, fallback to IPv4 only";
        return;
    }
    bool ipv4 = false;
    bool ipv6 = false;
    for (Kor::String entry : element.getText().separate_strings(",", 1, 0, Kor::String::s_nMaxPosition)) {
        entry.trim(" \t");
        const Kor::String upper = entry.to_upper(Kor::String::s_defaultCharset);
        if (upper == "IPV4") {
            ipv4 = true;
        } else if (upper == "IPV6") {
            ipv6 = true;
        } else {
            ipv4 = true;
            ipv6 = false;
            coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Invalid entry in allowed_protocols, fallback to IPv4 only :" << entry;
        }
    }
    // An element without entries keeps the IPv4-only policy set above.
    if (ipv4 && ipv6) {
        Kor::SocketAddress::s_AllowedTypes = 0;
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Allow IPv4 and IPv6";
    } else if (ipv6) {
        Kor::SocketAddress::s_AllowedTypes = 2;
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Allow IPv6 only";
    } else {
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Allow IPv4 only";
    }
    d->preferredLocalAddress = std::make_shared<PreferredAddress>();
}

const QString& SetupConfigData::preferredLocalAddress() const
{
    static const QString none;
    if (!d->preferredLocalAddress)
        return none;
    PreferredAddress& preferred = *d->preferredLocalAddress;
    std::call_once(preferred.once, [&preferred] {
        preferred.address = QString::fromUtf8(Kor::SocketAddress::getPrefferedLocalAddress().c_str());
    });
    return preferred.address;
}

void SetupConfigData::initDataPaths()
{
    if (!d->korDataPath.isEmpty()) {
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Using data dir from global setup configuration: " << d->korDataPath;
    } else {
        HostProvider* host = hostProvider();
        // Linux has no C: drive; the data root default lives under /var/lib.
        const QVariant fallback(QStringLiteral("/var/lib/kor/KORDATA"));
        d->korDataPath = host ? host->setting(QStringLiteral("RecordingDirectories/DataDir"), fallback, false).toString()
                            : fallback.toString();
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Using data dir from local configuration: " << d->korDataPath;
    }
    const QDir root(d->korDataPath);
    for (int folder = 0; folder < FolderCount; ++folder)
        d->folders[folder] = root.absoluteFilePath(QLatin1String(folderNames[folder]));
}

void SetupConfigData::createKorDataFolders() const
{
    for (const QString& path : d->folders)
        ensureConfiguredPath(path);
}

} // namespace Kor::NS
