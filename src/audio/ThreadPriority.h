// Scheduling of the capture worker: as urgent as the user's limits allow, on the first CPU.
#pragma once

namespace kv {

// Tries SCHED_FIFO at the highest priority RLIMIT_RTPRIO permits, else the lowest nice value
// RLIMIT_NICE permits. Returns true when either took effect; failing is not an error.
bool RaiseCurrentThreadPriority();
// Pins the calling thread to CPU 0; returns false when the system refuses.
bool PinCurrentThreadToFirstCpu();

} // namespace kv
