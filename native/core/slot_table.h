// A table of slots whose memory is never returned: slots are recycled, never freed, so a late
// or stale reference to a slot (a handle of an object that was rebound, a pointer a module
// kept) always points at valid memory, and the owner tells a live slot from a recycled one by
// a generation or a state word of its own.
//
// Slots are allocated in chunks as needed. Reading a slot by index or by address takes no lock
// and may run on any thread; allocating and recycling run under the owner's lock (the owner
// usually guards more than the table with it). A recycled slot goes to the end of the free
// queue, so it is reused only after every slot freed before it: a late caller meets a freshly
// reused slot as rarely as the table allows.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

namespace vorlen {

template <typename T, std::size_t ChunkBits = 8, std::size_t MaxChunks = std::size_t{1} << 14>
class SlotTable {
public:
    static constexpr std::size_t kChunkSize = std::size_t{1} << ChunkBits;
    static constexpr std::size_t kCapacity = kChunkSize * MaxChunks;
    static_assert(kCapacity <= 0xFFFFFFFFu, "slot indices are 32 bits");

    SlotTable() = default;
    SlotTable(const SlotTable&) = delete;
    SlotTable& operator=(const SlotTable&) = delete;
    // The chunks are never freed: the table lives as long as the process.
    ~SlotTable() = default;

    /// The slot at `index`, or null when no such slot was ever allocated. No lock.
    T* at(std::uint64_t index) const {
        if (index >= kCapacity) {
            return nullptr;
        }
        const auto i = static_cast<std::size_t>(index);  // below the bound: fits any size_t
        Chunk* chunk = chunks_[i >> ChunkBits].load(std::memory_order_acquire);
        return chunk != nullptr ? &chunk->slots[i & (kChunkSize - 1)] : nullptr;
    }

    /// The slot `pointer` points at exactly (its first byte), or null when it points anywhere
    /// else: a pointer handed back by foreign code is only ever used after this check. No lock.
    T* find(const void* pointer) const {
        const auto address = reinterpret_cast<std::uintptr_t>(pointer);
        const std::size_t count = chunkCount_.load(std::memory_order_acquire);
        for (std::size_t c = 0; c < count; ++c) {
            Chunk* chunk = chunks_[c].load(std::memory_order_acquire);
            const auto first = reinterpret_cast<std::uintptr_t>(&chunk->slots[0]);
            if (address >= first && address < first + sizeof(chunk->slots) &&
                (address - first) % sizeof(T) == 0) {
                return &chunk->slots[(address - first) / sizeof(T)];
            }
        }
        return nullptr;
    }

    /// Slots allocated so far (indices 0 to size() - 1). Owner's lock held.
    std::uint32_t size() const { return next_; }

    /// A free slot and its index: the oldest recycled one once more than `quarantine` slots
    /// wait in the free queue (or no new slot below `limit` is left), else a new one. Null when
    /// the table (or `limit`, at most kCapacity) is full or memory runs out. Owner's lock held.
    T* allocate(std::uint32_t& index, std::size_t quarantine = 0, std::size_t limit = kCapacity) {
        if (freeHead_ != kNone && (freeCount_ > quarantine || next_ >= limit)) {
            index = freeHead_;
            Chunk* chunk = chunkOf(index);
            freeHead_ = chunk->nextFree[index & (kChunkSize - 1)];
            if (freeHead_ == kNone) {
                freeTail_ = kNone;
            }
            --freeCount_;
            return &chunk->slots[index & (kChunkSize - 1)];
        }
        if (next_ >= limit) {
            return nullptr;
        }
        const std::size_t c = next_ >> ChunkBits;
        if (chunks_[c].load(std::memory_order_relaxed) == nullptr) {
            Chunk* chunk = new (std::nothrow) Chunk;
            if (chunk == nullptr) {
                return nullptr;
            }
            chunks_[c].store(chunk, std::memory_order_release);
            chunkCount_.store(c + 1, std::memory_order_release);
        }
        index = next_++;
        return at(index);
    }

    /// Puts the slot at `index` at the end of the free queue; never fails. The owner has reset
    /// what the slot holds. Owner's lock held.
    void recycle(std::uint32_t index) {
        chunkOf(index)->nextFree[index & (kChunkSize - 1)] = kNone;
        if (freeTail_ == kNone) {
            freeHead_ = index;
        } else {
            chunkOf(freeTail_)->nextFree[freeTail_ & (kChunkSize - 1)] = index;
        }
        freeTail_ = index;
        ++freeCount_;
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    struct Chunk {
        T slots[kChunkSize];
        std::uint32_t nextFree[kChunkSize];  // the free queue's links (owner's lock)
    };

    Chunk* chunkOf(std::uint32_t index) const {
        return chunks_[index >> ChunkBits].load(std::memory_order_relaxed);
    }

    std::array<std::atomic<Chunk*>, MaxChunks> chunks_{};
    std::atomic<std::size_t> chunkCount_{0};
    std::uint32_t next_ = 0;
    std::uint32_t freeHead_ = kNone;
    std::uint32_t freeTail_ = kNone;
    std::size_t freeCount_ = 0;  // slots in the free queue
};

}  // namespace vorlen
