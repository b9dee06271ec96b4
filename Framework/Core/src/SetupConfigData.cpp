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
// Why the last read failed; said again once logging runs.
QString g_readError;

void logLoadFailure(const QString& path)
{
    coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Failed to load setup config at " << path;
    if (!g_readError.isEmpty())
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Setup config not usable: " << g_readError;
}
} // namespace

SetupConfigData::SetupConfigData()
{
    const QString path = setupFilePath();
    if (!s_setupSection.ReadFile(path.toLocal8Bit().constData(), false, Kor::Section::s_defaultReadCharset,
                                 Kor::String::s_defaultCharset)) {
        g_readError = QString::fromUtf8(s_setupSection.lastError().c_str());
        logLoadFailure(path);
        return;
    }
    g_readError.clear();
    m_setupXmlFound = true;
    coreLog(Kor::TRACE, Kor::LOG_DETAIL) << "Loaded setup config from " << path;
    m_dataDirPath = settingText("datadir");
    m_driveDirPath = settingText("drivedir");
    m_installDirPath = settingText("installdir");
    m_logDirPath = settingText("logdir");
    m_korDataPath = settingText("kordata");
    m_databasePath = settingText("kordatabase");
    m_databaseType = settingText("dbtype");
    const QString hosts = settingText("AIPList");
    if (!hosts.isEmpty())
        m_aipHosts = hosts.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    m_cipherFilter = settingText("trmNativeDisabledCipherSuites");
}

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
    if (!m_setupXmlFound) {
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
    m_preferredLocalAddress = std::make_shared<PreferredAddress>();
}

struct SetupConfigData::PreferredAddress
{
    std::once_flag once;
    QString address;
};

const QString& SetupConfigData::preferredLocalAddress() const
{
    static const QString none;
    if (!m_preferredLocalAddress)
        return none;
    PreferredAddress& preferred = *m_preferredLocalAddress;
    std::call_once(preferred.once, [&preferred] {
        preferred.address = QString::fromUtf8(Kor::SocketAddress::getPrefferedLocalAddress().c_str());
    });
    return preferred.address;
}

void SetupConfigData::initDataPaths()
{
    if (!m_korDataPath.isEmpty()) {
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Using data dir from global setup configuration: " << m_korDataPath;
    } else {
        HostProvider* host = hostProvider();
        // Linux has no C: drive; the data root default lives under /var/lib.
        const QVariant fallback(QStringLiteral("/var/lib/kor/KORDATA"));
        m_korDataPath = host ? host->setting(QStringLiteral("RecordingDirectories/DataDir"), fallback, false).toString()
                            : fallback.toString();
        coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "Using data dir from local configuration: " << m_korDataPath;
    }
    const QDir root(m_korDataPath);
    m_activeRecordingsDirPath = root.absoluteFilePath(QStringLiteral("ActiveRecordings"));
    m_finishedRecordingsDirPath = root.absoluteFilePath(QStringLiteral("FinishedRecordings"));
    m_finishedConversationsDirPath = root.absoluteFilePath(QStringLiteral("FinishedConversations"));
    m_callPoolDirPath = root.absoluteFilePath(QStringLiteral("CallPool"));
    m_invalidRecordingsDirPath = root.absoluteFilePath(QStringLiteral("InvalidRecordings"));
    m_invalidMetadataDirPath = root.absoluteFilePath(QStringLiteral("InvalidMetadata"));
    m_packageCacheDirPath = root.absoluteFilePath(QStringLiteral("PackageCache"));
    m_deviceCacheDirPath = root.absoluteFilePath(QStringLiteral("DeviceCache"));
    m_exportTempDirPath = root.absoluteFilePath(QStringLiteral("Export"));
    m_finishedImportDirPath = root.absoluteFilePath(QStringLiteral("FinishedImports"));
    m_invalidImportDirPath = root.absoluteFilePath(QStringLiteral("InvalidImports"));
    m_activeCompressionsDirPath = root.absoluteFilePath(QStringLiteral("ActiveCompressions"));
    m_packagesSizeDirPath = root.absoluteFilePath(QStringLiteral("PackagesSizePath"));
    m_rcInfosDirPath = root.absoluteFilePath(QStringLiteral("RCInfos"));
    m_rcInfosFailedDirPath = QDir(m_rcInfosDirPath).absoluteFilePath(QStringLiteral("Failed"));
    m_emotionDetectionDirPath = root.absoluteFilePath(QStringLiteral("EmotionDetection"));
    m_notificationsDirPath = root.absoluteFilePath(QStringLiteral("Notifications"));
    m_audioAnalysisDirPath = root.absoluteFilePath(QStringLiteral("AudioAnalysis"));
    m_activeImportsDirPath = root.absoluteFilePath(QStringLiteral("ActiveImports"));
    m_activeRebuildsDirPath = root.absoluteFilePath(QStringLiteral("ActiveRebuilds"));
}

void SetupConfigData::createKorDataFolders() const
{
    const QString* const inOrder[] = {
        &m_activeCompressionsDirPath, &m_activeRecordingsDirPath, &m_finishedRecordingsDirPath,
        &m_finishedConversationsDirPath, &m_callPoolDirPath, &m_invalidRecordingsDirPath,
        &m_invalidMetadataDirPath, &m_packageCacheDirPath, &m_deviceCacheDirPath, &m_exportTempDirPath,
        &m_finishedImportDirPath, &m_invalidImportDirPath, &m_packagesSizeDirPath, &m_rcInfosDirPath,
        &m_rcInfosFailedDirPath, &m_emotionDetectionDirPath, &m_audioAnalysisDirPath,
        &m_notificationsDirPath, &m_activeImportsDirPath, &m_activeRebuildsDirPath,
    };
    for (const QString* path : inOrder)
        ensureConfiguredPath(*path);
}

} // namespace Kor::NS
