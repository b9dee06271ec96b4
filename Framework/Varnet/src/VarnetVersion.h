#pragma once

#include "VarnetExport.h"

namespace Kor {

struct VarnetVersionInfo
{
    unsigned high;
    unsigned low;
    unsigned build;
    unsigned revision;
    const char* name;
};

} // namespace Kor

extern "C" VARNET_EXPORT const Kor::VarnetVersionInfo s_VarnetVersionInfo;
