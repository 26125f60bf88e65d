// Heap allocations made by this process since it started.
#pragma once

#include <cstdint>

namespace volmar::bench {
std::uint64_t AllocationCount();
}
