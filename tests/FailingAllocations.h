#pragma once
// Allocation failure on demand, for the code linked into the test program:
// while a TFailingAllocations is alive, the given allocation on the calling
// thread (counting from 0) and every later one there throws std::bad_alloc.
// Other threads allocate as usual.
class TFailingAllocations {
public:
    explicit TFailingAllocations(long allocationsBeforeFailure) noexcept;
    ~TFailingAllocations();
    TFailingAllocations(const TFailingAllocations&) = delete;
    TFailingAllocations& operator=(const TFailingAllocations&) = delete;

    // True when an allocation was refused.
    bool Failed() const noexcept;
};
