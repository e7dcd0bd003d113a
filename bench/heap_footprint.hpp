#pragma once
// Heap footprint of one plug-in instance, measured in the benchmark program
// by replacing the global allocation functions with counting ones.

#include <cstddef>

namespace tessellgrove::bench {

// What the heap saw while one instance was built and activated.
struct HeapFootprint {
    std::size_t construct_allocations = 0; // operator new calls made by the constructor
    std::size_t construct_bytes = 0;       // bytes those calls requested
    std::size_t live_bytes = 0;            // requested bytes still held after construction
                                           // and activation at 48 kHz
    std::size_t activate_allocations = 0;  // operator new calls made by initialize(48 kHz)
    std::size_t instance_size = 0;         // sizeof the instance itself (inside the above)
    long mallinfo_bytes = 0;               // glibc in-use bytes after minus before
                                           // (mallinfo2, includes allocator overhead)
};

// Builds one instance, activates it at 48 kHz, measures, destroys it.
HeapFootprint measure_instance_footprint();

} // namespace tessellgrove::bench
