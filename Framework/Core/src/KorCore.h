#pragma once

// Everything a host program of the family needs.

#include "BasicMainThread.h"
#include "KorCoreExport.h"
#include "KorException.h"
#include "VersionInfo.h"
