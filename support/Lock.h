#pragma once
// A lock that neither allocates nor throws, so it may be taken in noexcept
// code and in cleanup paths (std::mutex may throw std::system_error).
#include <windows.h>

class TLock {
public:
    TLock() noexcept = default;
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

    void Acquire() noexcept { AcquireSRWLockExclusive(&FLock); }
    void Unlock() noexcept { ReleaseSRWLockExclusive(&FLock); }

private:
    SRWLOCK FLock = SRWLOCK_INIT;
};

class TLockHold {
public:
    explicit TLockHold(TLock& lock) noexcept : FLock(lock) { FLock.Acquire(); }
    ~TLockHold() { FLock.Unlock(); }
    TLockHold(const TLockHold&) = delete;
    TLockHold& operator=(const TLockHold&) = delete;

private:
    TLock& FLock;
};
