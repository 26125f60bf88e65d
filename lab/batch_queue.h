// What the threads that must not wait hand to the one that writes: taken in
// batches, bounded in bytes. An item that finds the queue full is dropped
// and counted instead, so the one who queues never waits for the writer.
// Items go into chunks of fixed room that come back once written, so that
// queuing never moves what is already queued, and in a steady flow writes
// only to memory it has written before: a page touched for the first time
// costs the queuing thread a fault, and that thread answers the line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace volmar {

inline std::size_t QueuedBytes(const std::string& Line) { return Line.size(); }

// TItem needs a QueuedBytes(const TItem&) that ADL finds.
template <class TItem>
class TBatchQueue {
public:
    using TChunk = std::vector<TItem>;
    // The items taken, in order.
    using TBatch = std::vector<TChunk>;
    // Count items dropped for a full queue just before item At of a batch
    // (At: the batch's size for after its last), in order of At.
    struct TGap {
        std::size_t At;
        std::uint64_t Count;
    };
    using TGaps = std::vector<TGap>;
    // Room enough for the gaps of one batch; past it, drops count with the last.
    static constexpr std::size_t kGapsKept = 64;

    explicit TBatchQueue(std::size_t Limit) : FLimit(Limit) {
        FQueue.reserve(kChunksAhead);
        for (std::size_t i = 0; i < kChunksAhead; ++i) FSpare.push_back(NewChunk(true));
        FGaps.reserve(kGapsKept);
    }

    // Queues Item unless the items queued and being written would pass the
    // limit; false when it was dropped.
    bool Push(TItem Item) {
        std::unique_lock<std::mutex> lock(FLock);
        const std::size_t size = QueuedBytes(Item);
        if (FClosed || FQueuedBytes + FTakenBytes + size > FLimit) {
            ++FLost;
            if (!FClosed) NoteGap();
            return false;
        }
        const bool wasEmpty = FQueue.empty();
        const bool wasShort = FQueuedBytes < FLimit / 4;
        if (wasEmpty || FQueue.back().size() == kChunkItems) {
            if (FSpare.empty()) {
                FQueue.push_back(NewChunk(false));
            } else {
                FQueue.push_back(std::move(FSpare.back()));
                FSpare.pop_back();
            }
        }
        FQueue.back().push_back(std::move(Item));
        ++FQueuedItems;
        FQueuedBytes += size;
        // The writing thread sleeps only on an empty queue or while it
        // gathers, so most items need not wake it.
        const bool wake = wasEmpty || (wasShort && FQueuedBytes >= FLimit / 4);
        lock.unlock();
        if (wake) FWake.notify_one();
        return true;
    }

    // For the writing thread: waits for an item, then up to Gather for more
    // (less when a quarter of the limit is queued, or on Drain or Close),
    // and swaps them all into Batch, and into Gaps, when given, where items
    // were dropped among them. False once closed with nothing left (Gaps
    // then has those dropped after the last item).
    bool Take(TBatch& Batch, std::chrono::milliseconds Gather = std::chrono::milliseconds(0),
              TGaps* Gaps = nullptr) {
        // The items written last time are freed before the lock is taken,
        // so that no one queuing waits for it; their chunks keep their room.
        for (TChunk& chunk : Batch) chunk.clear();
        std::unique_lock<std::mutex> lock(FLock);
        for (TChunk& chunk : Batch) FSpare.push_back(std::move(chunk));
        Batch.clear();
        FWake.wait(lock, [this] { return FClosed || !FQueue.empty(); });
        if (Gaps) Gaps->clear();
        if (FQueue.empty()) {
            if (Gaps) Gaps->swap(FGaps);
            return false;
        }
        if (Gather.count() > 0)
            FWake.wait_for(lock, Gather, [this] {
                return FClosed || FDraining > 0 || FQueuedBytes >= FLimit / 4;
            });
        Batch.swap(FQueue);
        if (Gaps) Gaps->swap(FGaps);
        FGaps.clear();
        FTakenBytes = FQueuedBytes;
        FQueuedBytes = 0;
        FQueuedItems = 0;
        FBusy = true;
        return true;
    }

    // The items last taken are written, but for Failed of them.
    void Done(std::uint64_t Failed = 0) {
        const std::lock_guard<std::mutex> lock(FLock);
        FBusy = false;
        FTakenBytes = 0;
        FLost += Failed;
        if (FQueue.empty()) FDrained.notify_all();
    }

    // Waits at most Timeout until every item queued is done; true if so.
    bool Drain(std::chrono::milliseconds Timeout) {
        std::unique_lock<std::mutex> lock(FLock);
        ++FDraining;
        FWake.notify_all();
        const bool drained =
            FDrained.wait_for(lock, Timeout, [this] { return FQueue.empty() && !FBusy; });
        --FDraining;
        return drained;
    }

    // Takes no more items; the writing thread still gets those queued,
    // unless Discard: then they are dropped, and counted.
    void Close(bool Discard) {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            FClosed = true;
            if (Discard) {
                FLost += FQueuedItems;
                FQueue.clear();
                FGaps.clear();
                FQueuedBytes = 0;
                FQueuedItems = 0;
            }
        }
        FWake.notify_all();
    }

    // Items dropped, and items the writing thread could not write.
    std::uint64_t Lost() const {
        const std::lock_guard<std::mutex> lock(FLock);
        return FLost;
    }

private:
    // A chunk stays well below the size the allocator maps on its own, and
    // those made beforehand hold what answering a pseudo-terminal flat out
    // queues in a gathering of 100 ms.
    static constexpr std::size_t kChunkItems = 256;
    static constexpr std::size_t kChunksAhead = 16;

    void NoteGap() {
        if (!FGaps.empty() && (FGaps.back().At == FQueuedItems || FGaps.size() == kGapsKept))
            ++FGaps.back().Count;
        else
            FGaps.push_back({FQueuedItems, 1});
    }

    // Warm: its memory written once, so that the queuing thread does not
    // take the page faults.
    static TChunk NewChunk(bool Warm) {
        TChunk chunk;
        chunk.reserve(kChunkItems);
        if (Warm) {
            chunk.resize(kChunkItems);
            chunk.clear();
        }
        return chunk;
    }

    const std::size_t FLimit;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::condition_variable FDrained;
    TBatch FQueue;
    // Chunks written and handed back, empty, with their room.
    std::vector<TChunk> FSpare;
    TGaps FGaps;
    std::size_t FQueuedItems = 0; // in FQueue
    std::size_t FQueuedBytes = 0; // in FQueue
    std::size_t FTakenBytes = 0;  // taken and not yet done
    bool FBusy = false;
    bool FClosed = false;
    int FDraining = 0;
    std::uint64_t FLost = 0;
};

} // namespace volmar
