// SPDX-License-Identifier: GPL-3.0-or-later
// Counts the allocations of every thread of the test program while a measurement asks for it:
// AllocationCounter.cpp replaces the global operator new (once for the whole program). Sanitizer
// builds keep their own allocator, and KV_COUNT_ALLOCATIONS stays undefined.
#pragma once

#include <atomic>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define KV_COUNT_ALLOCATIONS 1
#endif

namespace kv {

inline std::atomic<bool> CountingAllocations{false};
inline std::atomic<unsigned long> Allocations{0};

} // namespace kv
