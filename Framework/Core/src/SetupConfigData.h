#pragma once

#include "KorCoreExport.h"

#include <Kor/Section.h>

#include <QList>
#include <QString>

#include <memory>

namespace Kor::NS {

// The machine-wide set-up file "setup.xml", read once per process, and the
// data-folder paths derived from it.
class KORCORE_EXPORT SetupConfigData
{
public:
    SetupConfigData();
    SetupConfigData(const SetupConfigData&) = default;
    SetupConfigData(SetupConfigData&&) = default;
    SetupConfigData& operator=(const SetupConfigData&) = default;
    SetupConfigData& operator=(SetupConfigData&&) = default;
    ~SetupConfigData() = default;

    // Reports a missing file where the log is written and applies the
    // allowed IP protocols.
    void initAfterLogCreation();
    // Chooses the data root and computes the twenty folder paths.
    void initDataPaths();
    // Makes sure the twenty folders exist.
    void createKorDataFolders() const;

    bool setupXmlFound() const { return m_setupXmlFound; }
    const QString& installDirPath() const { return m_installDirPath; }
    const QString& driveDirPath() const { return m_driveDirPath; }
    const QString& dataDirPath() const { return m_dataDirPath; }
    const QString& logDirPath() const { return m_logDirPath; }
    const QString& korDataPath() const { return m_korDataPath; }
    const QString& databasePath() const { return m_databasePath; }
    const QString& databaseType() const { return m_databaseType; }
    const QList<QString>& aipHosts() const { return m_aipHosts; }
    const QString& cipherFilter() const { return m_cipherFilter; }

    const QString& activeRecordingsDirPath() const { return m_activeRecordingsDirPath; }
    const QString& finishedRecordingsDirPath() const { return m_finishedRecordingsDirPath; }
    const QString& finishedConversationsDirPath() const { return m_finishedConversationsDirPath; }
    const QString& callPoolDirPath() const { return m_callPoolDirPath; }
    const QString& invalidRecordingsDirPath() const { return m_invalidRecordingsDirPath; }
    const QString& invalidMetadataDirPath() const { return m_invalidMetadataDirPath; }
    const QString& packageCacheDirPath() const { return m_packageCacheDirPath; }
    const QString& deviceCacheDirPath() const { return m_deviceCacheDirPath; }
    const QString& exportTempDirPath() const { return m_exportTempDirPath; }
    const QString& finishedImportDirPath() const { return m_finishedImportDirPath; }
    const QString& invalidImportDirPath() const { return m_invalidImportDirPath; }
    const QString& activeCompressionsDirPath() const { return m_activeCompressionsDirPath; }
    const QString& packagesSizeDirPath() const { return m_packagesSizeDirPath; }
    const QString& rcInfosDirPath() const { return m_rcInfosDirPath; }
    const QString& rcInfosFailedDirPath() const { return m_rcInfosFailedDirPath; }
    const QString& emotionDetectionDirPath() const { return m_emotionDetectionDirPath; }
    const QString& notificationsDirPath() const { return m_notificationsDirPath; }
    const QString& audioAnalysisDirPath() const { return m_audioAnalysisDirPath; }
    const QString& activeImportsDirPath() const { return m_activeImportsDirPath; }
    const QString& activeRebuildsDirPath() const { return m_activeRebuildsDirPath; }

    // Empty unless the file named the allowed protocols. Asking the system
    // for its interfaces is left to the first call, so that a start that
    // never needs the address does not pay for the query.
    const QString& preferredLocalAddress() const;

private:
    static QString setupFilePath();
    static QString settingText(const char* key);
    void applyAllowedProtocols();

    bool m_setupXmlFound = false;
    QString m_installDirPath;
    QString m_driveDirPath;
    QString m_dataDirPath;
    QString m_logDirPath;
    QString m_korDataPath;
    QString m_databasePath;
    QString m_databaseType;
    QList<QString> m_aipHosts;
    QString m_cipherFilter;

    QString m_activeRecordingsDirPath;
    QString m_finishedRecordingsDirPath;
    QString m_finishedConversationsDirPath;
    QString m_callPoolDirPath;
    QString m_invalidRecordingsDirPath;
    QString m_invalidMetadataDirPath;
    QString m_packageCacheDirPath;
    QString m_deviceCacheDirPath;
    QString m_exportTempDirPath;
    QString m_finishedImportDirPath;
    QString m_invalidImportDirPath;
    QString m_activeCompressionsDirPath;
    QString m_packagesSizeDirPath;
    QString m_rcInfosDirPath;
    QString m_rcInfosFailedDirPath;
    QString m_emotionDetectionDirPath;
    QString m_notificationsDirPath;
    QString m_audioAnalysisDirPath;
    QString m_activeImportsDirPath;
    QString m_activeRebuildsDirPath;

    struct PreferredAddress;
    // Shared by copies: the address is the machine's, not the record's.
    std::shared_ptr<PreferredAddress> m_preferredLocalAddress;
};

// The parsed set-up file, shared by the library; Application::close() releases it.
KORCORE_EXPORT extern Kor::Section s_setupSection;

} // namespace Kor::NS
