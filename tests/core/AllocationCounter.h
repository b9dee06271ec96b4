#pragma once

// Counts every heap allocation of the process. Qt's containers take their
// memory from malloc, not from operator new, so malloc and its kin are
// replaced (glibc keeps its own under the __libc_ names); operator new ends
// up in them as well. Include in one source file of a program, and not in a
// sanitizer build, whose runtime replaces malloc itself.

#include <atomic>
#include <cstddef>

namespace {
std::atomic<unsigned long long> g_allocations{0};
}

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);

void* malloc(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void* realloc(void* old, std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(old, size);
}
}
