#pragma once

#include "KorString.h"
#include "VarnetExport.h"

namespace Kor {

// Root of the base library's value and resource classes.
class VARNET_EXPORT Object
{
public:
    virtual ~Object();

    virtual String toString() const;
    // Text for diagnostics; by default the toString() text.
    virtual String toDebugString() const;
    // Releases whatever the object shares or holds, leaving it empty.
    virtual void clearRef();
};

// Counts the live objects of the classes that derive from it, so that a
// program can tell at its end whether it leaked any.
class VARNET_EXPORT ObjectData
{
public:
    ObjectData();
    ObjectData(const ObjectData&);
    ObjectData& operator=(const ObjectData&) = default;
    virtual ~ObjectData();

    static long globalUseCount();
    // Remembers the current count as the baseline. With report set,
    // restoreGlobalUseCount() logs how many objects outlived the baseline.
    static void storeGlobalUseCount(bool report);
    static void restoreGlobalUseCount();
};

} // namespace Kor
