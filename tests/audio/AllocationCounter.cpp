// SPDX-License-Identifier: GPL-3.0-or-later
#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

#ifdef KV_COUNT_ALLOCATIONS
void* operator new(std::size_t size) {
    if (kv::CountingAllocations.load(std::memory_order_relaxed))
        kv::Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
#endif
