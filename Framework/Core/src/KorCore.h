#pragma once

// Everything a host program of the family needs.

#include "KorCoreExport.h"
#include "CrashLog.h"
#include "KorException.h"
#include "VersionInfo.h"
