#pragma once

#include "RefObject.h"

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace Kor {

// Owning pointer of the thread model. It holds one reference to its object:
// assigning a raw pointer takes over the reference the caller had (for a new
// object, the creator's), and replacing or destroying the pointer gives it
// back: Release() when the object is a RefObject (found at run time, so an
// AutoPointer<Thread> to a reference-counted processor releases it), delete
// otherwise.
//
// The pointer is cleared before the old object is given back, so code that
// runs while the object dies (a CheckBeforeDelete() call) sees null here.
// Reading it from other threads is safe; taking over an object is not meant
// to race with other writers.
template <class T>
class AutoPointer
{
public:
    AutoPointer() = default;
    AutoPointer(std::nullptr_t) {}
    AutoPointer(T* object) : m_ptr(object) {}
    AutoPointer(AutoPointer&& other) noexcept : m_ptr(other.m_ptr.exchange(nullptr)) {}
    AutoPointer(const AutoPointer&) = delete;
    AutoPointer& operator=(const AutoPointer&) = delete;
    ~AutoPointer() { reset(); }

    AutoPointer& operator=(T* object)
    {
        reset(object);
        return *this;
    }
    AutoPointer& operator=(std::nullptr_t)
    {
        reset();
        return *this;
    }
    AutoPointer& operator=(AutoPointer&& other) noexcept
    {
        if (this != &other)
            reset(other.m_ptr.exchange(nullptr));
        return *this;
    }

    void reset(T* object = nullptr)
    {
        T* old = m_ptr.exchange(object);
        if (old && old != object)
            dispose(old);
    }

    T* get() const { return m_ptr.load(std::memory_order_acquire); }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    explicit operator bool() const { return get() != nullptr; }
    bool operator==(std::nullptr_t) const { return get() == nullptr; }
    bool operator==(const T* other) const { return get() == other; }

private:
    static void dispose(T* object)
    {
        if constexpr (std::is_base_of_v<RefObject, T>) {
            object->Release();
        } else if constexpr (std::is_polymorphic_v<T>) {
            if (RefObject* counted = dynamic_cast<RefObject*>(object))
                counted->Release();
            else
                delete object;
        } else {
            delete object;
        }
    }

    std::atomic<T*> m_ptr{nullptr};
};

} // namespace Kor
