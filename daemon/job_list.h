// The job list: an ordered list of job identifiers.
//
// Producers append at the tail and the main loop takes from the head; the
// only insertions at the head are a parameter job put back after a failed
// send and a fault that must come first. A job that merges on taking
// (job_merges_duplicates) is queued once: a duplicate of a queued one is
// absorbed. Other duplicates are kept, one run per entry.
//
// The storage is a fixed ring inside the object: appending, taking and
// removing never allocate, so the main loop's polling path costs no heap
// work and the list's memory is bounded. The list takes no lock of its own;
// the process-wide instance is guarded by the job-list mutex (job_queue.h).
#pragma once

#include <array>
#include <cstddef>

namespace optad {

class JobList {
public:
    // Room for far more than the main loop ever meets: at most one entry per
    // merging job, and the job types and focus steps queued while one job
    // runs.
    static constexpr size_t CAPACITY = 256;

    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }
    bool full() const { return count_ == CAPACITY; }

    // The identifier at position i (0 = head); i must be below size().
    int at(size_t i) const { return ring_[(head_ + i) % CAPACITY]; }
    int front() const { return at(0); }
    bool contains(int id) const;

    // Appends at the tail. A duplicate of an entry that merges on taking
    // (job_merges_duplicates) is absorbed, since taking the earlier entry
    // would remove it anyway; when the list is full any other identifier
    // is refused. Returns false when refused (the caller logs).
    bool append(int id);
    // Inserts at the head. Returns false when the list is full.
    bool prepend(int id);

    // Removes the head entry; the list must not be empty.
    void pop_front();
    // Removes every entry equal to id, keeping the order of the others.
    // Returns how many were removed.
    size_t remove_all(int id);
    void clear();

private:
    std::array<int, CAPACITY> ring_{};
    size_t head_ = 0;
    size_t count_ = 0;
};

}  // namespace optad
