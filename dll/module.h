// What keeps the DLL loaded: its live objects and its server locks.
#pragma once

#include <atomic>

namespace skerrow::com {

// Objects of the DLL alive, and IClassFactory::LockServer locks.
extern std::atomic<long> liveObjects;
extern std::atomic<long> serverLocks;

} // namespace skerrow::com
