#pragma once
// A fixed-capacity single-producer, single-consumer queue, lock-free: the
// producer pushes at the tail, the consumer reads and pops at the head, and
// neither ever waits, allocates or locks. Its storage is made once, at
// construction.
//
// Threads: one producer at a time (several threads may push if something
// else orders them, as the engine mutex does) and one consumer. clear() and
// forEach() need both sides quiet.

#include <atomic>
#include <cstdint>
#include <memory>

namespace tonvero {

template <class T>
class EventQueue {
public:
    // Holds at least `capacity` entries (rounded up to a power of two).
    explicit EventQueue(uint32_t capacity) {
        uint32_t size = 2;
        while (size < capacity && size < (1u << 30)) size <<= 1;
        slots_ = std::make_unique<T[]>(size);
        mask_ = size - 1;
    }
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    uint32_t capacity() const { return mask_ + 1; }

    // Producer. False, and nothing queued, when the queue is full.
    bool push(const T& value) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) > mask_) return false;
        slots_[tail & mask_] = value;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer: the oldest entry, or null when the queue is empty.
    const T* front() const {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return nullptr;
        return &slots_[head & mask_];
    }
    // Consumer: drops the oldest entry (there must be one).
    void pop() { head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    bool empty() const { return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire); }

    // Both sides quiet: drops every entry.
    void clear() { head_.store(tail_.load(std::memory_order_acquire), std::memory_order_release); }
    // Both sides quiet: visits every queued entry, oldest first, and may change it.
    template <class F>
    void forEach(F&& visit) {
        const uint32_t tail = tail_.load(std::memory_order_acquire);
        for (uint32_t i = head_.load(std::memory_order_acquire); i != tail; ++i) visit(slots_[i & mask_]);
    }

private:
    std::unique_ptr<T[]> slots_;
    uint32_t mask_ = 0;
    alignas(64) std::atomic<uint32_t> head_{0};  // written by the consumer
    alignas(64) std::atomic<uint32_t> tail_{0};  // written by the producer
};

}  // namespace tonvero
