#pragma once

#include "KorCoreExport.h"

#include <functional>

namespace Kor::NS {

// Runs a function when it goes out of scope, unless finished() was called.
// A copy acts on its own: an unfinished copy runs the function again.
class KORCORE_EXPORT ScopeGuard
{
public:
    explicit ScopeGuard(std::function<void()> function)
        : m_function(std::move(function))
    {
    }
    ScopeGuard(const ScopeGuard&) = default;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    ~ScopeGuard()
    {
        if (!m_finished && m_function)
            m_function();
    }

    void finished() { m_finished = true; }

private:
    std::function<void()> m_function;
    bool m_finished = false;
};

} // namespace Kor::NS
