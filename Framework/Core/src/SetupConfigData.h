#pragma once

#include "KorCoreExport.h"

#include <Kor/Section.h>

#include <QList>
#include <QSharedDataPointer>
#include <QString>

namespace Kor::NS {

class SetupConfigDataPrivate;

// The machine-wide set-up file "setup.xml", read once per process, and the
// data-folder paths derived from it.
class KORCORE_EXPORT SetupConfigData
{
public:
    SetupConfigData();
    // Copies share their data until one of them changes.
    SetupConfigData(const SetupConfigData& other);
    SetupConfigData(SetupConfigData&& other) noexcept;
    SetupConfigData& operator=(const SetupConfigData& other);
    SetupConfigData& operator=(SetupConfigData&& other) noexcept;
    ~SetupConfigData();

    // Reports a missing file where the log is written and applies the
    // allowed IP protocols.
    void initAfterLogCreation();
    // Chooses the data root and computes the twenty folder paths.
    void initDataPaths();
    // Makes sure the twenty folders exist.
    void createKorDataFolders() const;

    bool setupXmlFound() const;
    const QString& installDirPath() const;
    const QString& driveDirPath() const;
    const QString& dataDirPath() const;
    const QString& logDirPath() const;
    const QString& korDataPath() const;
    const QString& databasePath() const;
    const QString& databaseType() const;
    const QList<QString>& aipHosts() const;
    const QString& cipherFilter() const;

    const QString& activeRecordingsDirPath() const;
    const QString& finishedRecordingsDirPath() const;
    const QString& finishedConversationsDirPath() const;
    const QString& callPoolDirPath() const;
    const QString& invalidRecordingsDirPath() const;
    const QString& invalidMetadataDirPath() const;
    const QString& packageCacheDirPath() const;
    const QString& deviceCacheDirPath() const;
    const QString& exportTempDirPath() const;
    const QString& finishedImportDirPath() const;
    const QString& invalidImportDirPath() const;
    const QString& activeCompressionsDirPath() const;
    const QString& packagesSizeDirPath() const;
    const QString& rcInfosDirPath() const;
    const QString& rcInfosFailedDirPath() const;
    const QString& emotionDetectionDirPath() const;
    const QString& notificationsDirPath() const;
    const QString& audioAnalysisDirPath() const;
    const QString& activeImportsDirPath() const;
    const QString& activeRebuildsDirPath() const;

    // Empty unless the file named the allowed protocols. Asking the system
    // for its interfaces is left to the first call, so that a start that
    // never needs the address does not pay for the query.
    const QString& preferredLocalAddress() const;

private:
    static QString setupFilePath();
    static QString settingText(const char* key);
    void applyAllowedProtocols();

    QSharedDataPointer<SetupConfigDataPrivate> d;
};

// The parsed set-up file, shared by the library; Application::close() releases it.
KORCORE_EXPORT extern Kor::Section s_setupSection;

} // namespace Kor::NS
