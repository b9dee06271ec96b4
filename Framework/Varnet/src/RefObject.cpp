#include "RefObject.h"

namespace Kor {

RefObject::RefObject() : m_count(1) {}

RefObject::~RefObject() = default;

long RefObject::AddRef()
{
    return m_count.fetch_add(1, std::memory_order_relaxed) + 1;
}

long RefObject::Release()
{
    long expected = m_count.load(std::memory_order_relaxed);
    // Never go below zero: an unbalanced Release() must not delete twice.
    do {
        if (expected <= 0)
            return -1;
    } while (!m_count.compare_exchange_weak(expected, expected - 1, std::memory_order_acq_rel));
    if (expected == 1)
        delete this;
    return expected - 1;
}

long RefObject::RefCount() const
{
    return m_count.load(std::memory_order_relaxed);
}

} // namespace Kor
