#pragma once

#include "VarnetExport.h"

#include <atomic>

namespace Kor {

// Intrusive reference count. A new object holds one reference, the
// creator's; whoever takes it over (usually an AutoPointer) drops it with
// Release(). The object deletes itself when the last reference goes, so it
// must live on the heap once it is shared.
class VARNET_EXPORT RefObject
{
public:
    RefObject();
    RefObject(const RefObject&) = delete;
    RefObject& operator=(const RefObject&) = delete;

    // Both return the count after the change. Release() deletes the object
    // when the count reaches zero; a Release() without a matching reference
    // (count already zero) does nothing and returns a negative number.
    long AddRef();
    long Release();
    long RefCount() const;

protected:
    virtual ~RefObject();

private:
    std::atomic<long> m_count;
};

} // namespace Kor
