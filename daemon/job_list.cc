#include "daemon/job_list.h"

#include "daemon/jobs.h"

namespace optad {

bool JobList::contains(int id) const
{
    for (size_t i = 0; i < count_; i++) {
        if (at(i) == id)
            return true;
    }
    return false;
}

bool JobList::append(int id)
{
    // A duplicate of a merging entry is absorbed: taking the earlier entry
    // would remove it anyway. So a client that sets one property faster
    // than the main loop gets through a long job (a REQ wait of a hung IMC)
    // fills no room that a fault's job needs.
    if (job_merges_duplicates(id) && contains(id))
        return true;
    if (full())
        return false;
    ring_[(head_ + count_) % CAPACITY] = id;
    count_++;
    return true;
}

bool JobList::prepend(int id)
{
    if (full())
        return false;
    head_ = (head_ + CAPACITY - 1) % CAPACITY;
    ring_[head_] = id;
    count_++;
    return true;
}

void JobList::pop_front()
{
    if (count_ == 0)
        return;
    head_ = (head_ + 1) % CAPACITY;
    count_--;
}

size_t JobList::remove_all(int id)
{
    // Compact in place: every kept entry moves towards the head.
    size_t kept = 0;
    for (size_t i = 0; i < count_; i++) {
        int v = at(i);
        if (v != id)
            ring_[(head_ + kept++) % CAPACITY] = v;
    }
    size_t removed = count_ - kept;
    count_ = kept;
    return removed;
}

void JobList::clear()
{
    head_ = 0;
    count_ = 0;
}

}  // namespace optad
