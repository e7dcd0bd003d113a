// Counting replacements of the global allocation functions for this program.
// Counting is on only inside `measure_instance_footprint`, so Google
// Benchmark's own allocations are never counted. Sizes of live blocks are
// kept in a small header in front of each block so that frees inside the
// measured window can be subtracted.

#include "bench/heap_footprint.hpp"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "plugin/lib/tessellgrove.hpp"
#include "plugin_kit/plugin/plugin.hpp"

// The replacements pair every allocation with free(); GCC cannot see that
// the pair is the replaced operator new and delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<bool> counting{false};
std::atomic<std::size_t> allocation_count{0};
std::atomic<long long> live_bytes{0}; // requested bytes, allocations minus frees

// Every block carries its requested size in a header of one max-aligned
// slot (or the requested alignment, if larger).
struct Header {
    std::size_t size;
    std::size_t offset;
};

void* allocate(std::size_t size, std::size_t alignment) noexcept
{
    alignment = alignment < alignof(std::max_align_t) ? alignof(std::max_align_t) : alignment;
    const std::size_t offset = (sizeof(Header) + alignment - 1) / alignment * alignment;
    const std::size_t total = (offset + size + alignment - 1) / alignment * alignment;
    void* base = std::aligned_alloc(alignment, total);
    if (base == nullptr) {
        return nullptr;
    }
    auto* user = static_cast<unsigned char*>(base) + offset;
    auto* header = reinterpret_cast<Header*>(user - sizeof(Header));
    header->size = size;
    header->offset = offset;
    if (counting.load(std::memory_order_relaxed)) {
        allocation_count.fetch_add(1, std::memory_order_relaxed);
        live_bytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
    }
    return user;
}

void release(void* p) noexcept
{
    if (p == nullptr) {
        return;
    }
    auto* user = static_cast<unsigned char*>(p);
    const auto* header = reinterpret_cast<const Header*>(user - sizeof(Header));
    if (counting.load(std::memory_order_relaxed)) {
        live_bytes.fetch_sub(static_cast<long long>(header->size), std::memory_order_relaxed);
    }
    std::free(user - header->offset);
}

void* allocate_or_throw(std::size_t size, std::size_t alignment)
{
    if (void* p = allocate(size, alignment)) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) { return allocate_or_throw(size, 0); }
void* operator new[](std::size_t size) { return allocate_or_throw(size, 0); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t al) { return allocate_or_throw(size, static_cast<std::size_t>(al)); }
void* operator new[](std::size_t size, std::align_val_t al) { return allocate_or_throw(size, static_cast<std::size_t>(al)); }
void* operator new(std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept
{
    return allocate(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept
{
    return allocate(size, static_cast<std::size_t>(al));
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }

namespace tessellgrove::bench {

HeapFootprint measure_instance_footprint()
{
    HeapFootprint out;
    out.instance_size = sizeof(Tessellgrove);

    const struct mallinfo2 before = mallinfo2();
    allocation_count.store(0);
    live_bytes.store(0);
    counting.store(true);
    auto instance = std::make_unique<Tessellgrove>();
    counting.store(false);
    out.construct_allocations = allocation_count.load();
    out.construct_bytes = static_cast<std::size_t>(live_bytes.load());

    plugin_kit::BufferConfig config;
    config.sample_rate = 48000.0f;
    allocation_count.store(0);
    counting.store(true);
    instance->initialize(plugin_kit::AudioIOLayout{}, config);
    counting.store(false);
    out.activate_allocations = allocation_count.load();
    out.live_bytes = static_cast<std::size_t>(live_bytes.load());
    const struct mallinfo2 after = mallinfo2();
    out.mallinfo_bytes = static_cast<long>(after.uordblks) - static_cast<long>(before.uordblks);
    return out;
}

} // namespace tessellgrove::bench
