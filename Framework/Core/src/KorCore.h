#pragma once

// Everything a host program of the family needs.

#include "BasicMainThread.h"
#include "KorCoreExport.h"
#include "CrashLog.h"
#include "FileUtils.h"
#include "KorException.h"
#include "VersionInfo.h"
#include "LogMessage.h"
#include "Parameter.h"
#include "RecordingPool.h"
#include "Application.h"
#include "BasicApplication.h"
#include "ServiceControl.h"
#include "SetupConfigData.h"
#include "TimeRange.h"
#include "ThreadContext.h"
#include "OwnerThread.h"
#include "ScopeGuard.h"
#include "DebugHelpers.h"
#include "KorMutexLocker.h"

#include <Kor/MoltrixVersion.h>
#include <Kor/VarnetVersion.h>
