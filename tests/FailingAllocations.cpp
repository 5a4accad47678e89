// Replaces the program's global operator new, so that a test can make
// allocations fail; disarmed it only counts nothing and calls malloc.
#include "FailingAllocations.h"

#include <cstdlib>
#include <new>

namespace {

// Per thread: how many allocations may still succeed (-1: no limit), and
// whether one was refused.
thread_local long TAllocationsLeft = -1;
thread_local bool TRefused = false;

void* Allocate(std::size_t size)
{
    if (TAllocationsLeft == 0) {
        TRefused = true;
        throw std::bad_alloc();
    }
    if (TAllocationsLeft > 0) --TAllocationsLeft;
    void* memory = std::malloc(size != 0 ? size : 1);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

TFailingAllocations::TFailingAllocations(long allocationsBeforeFailure) noexcept
{
    TRefused = false;
    TAllocationsLeft = allocationsBeforeFailure;
}

TFailingAllocations::~TFailingAllocations()
{
    TAllocationsLeft = -1;
}

bool TFailingAllocations::Failed() const noexcept
{
    return TRefused;
}
