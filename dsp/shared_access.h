// How the user-interface thread and the audio thread share the parameter block
// without locks and without data races.
//
// - Scalars that both threads touch (settings, meter peaks, read-outs, switches)
//   are read and written whole through relaxed atomic references: a block sees
//   either the old or the new value of each field, never a torn one.
// - Derived parameter sets (the classic coefficients, the parsed multiband
//   configuration) travel from the thread that computes them to the audio thread
//   through a triple-buffered mailbox: the producer fills its private slot and
//   swaps it into the middle; the audio thread swaps the middle into its own slot
//   between blocks. A block therefore always runs with one complete set.
#pragma once

#include <atomic>
#include <cstdint>

template <typename T>
inline T load_relaxed(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <typename T>
inline void store_relaxed(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// Copies n characters with relaxed atomic loads and stores: the multiband
// strings are edited character by character on one thread and parsed on either.
inline void copy_chars_relaxed(char* dst, const char* src, int n) {
    for (int i = 0; i < n; ++i) store_relaxed(dst[i], load_relaxed(src[i]));
}

// Single-producer, single-consumer triple buffer. The producer is whichever
// non-audio thread computes parameters (the configuration pages); the audio
// thread is the only consumer. All members are plain so that the record stays
// trivially copyable; the index word is only ever accessed atomically.
template <typename T>
struct Mailbox {
    T slots[3];
    uint32_t back = 0;    // producer's slot
    uint32_t middle = 1;  // exchanged atomically; bit 2 marks fresh content
    uint32_t front = 2;   // consumer's slot
};

constexpr uint32_t mailboxFresh = 4;

// Producer: the slot to fill before publishing.
template <typename T>
inline T& mailbox_back(Mailbox<T>& box) {
    return box.slots[box.back];
}

template <typename T>
inline void mailbox_publish(Mailbox<T>& box) {
    uint32_t previous = std::atomic_ref<uint32_t>(box.middle)
                            .exchange(box.back | mailboxFresh, std::memory_order_acq_rel);
    box.back = previous & 3u;
}

// Consumer: if a fresh set was published since the last call, take it into
// `out` and return true; otherwise leave `out` alone and return false.
template <typename T>
inline bool mailbox_take(Mailbox<T>& box, T& out) {
    std::atomic_ref<uint32_t> middle(box.middle);
    if ((middle.load(std::memory_order_relaxed) & mailboxFresh) == 0) return false;
    uint32_t previous = middle.exchange(box.front, std::memory_order_acq_rel);
    box.front = previous & 3u;
    out = box.slots[box.front];
    return true;
}
