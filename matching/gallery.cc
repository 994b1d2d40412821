// The gallery: its entries, the lock that guards them, and the search.
#include "matching/gallery.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "matching/coarse.h"

namespace dactyra::matching {
namespace {

// A reader-writer lock that lets a waiting writer in before readers that
// come after it. (The C library's rwlock behind std::shared_mutex lets
// readers overtake a waiting writer indefinitely.)
class WriterFirstLock {
 public:
  void lock_shared() {
    std::unique_lock hold(mutex_);
    readable_.wait(hold, [&] { return !writing_ && writers_waiting_ == 0; });
    ++readers_;
  }
  void unlock_shared() {
    std::lock_guard hold(mutex_);
    if (--readers_ == 0) writable_.notify_one();
  }
  void lock() {
    std::unique_lock hold(mutex_);
    ++writers_waiting_;
    writable_.wait(hold, [&] { return !writing_ && readers_ == 0; });
    --writers_waiting_;
    writing_ = true;
  }
  void unlock() {
    std::lock_guard hold(mutex_);
    writing_ = false;
    if (writers_waiting_ > 0) writable_.notify_one();
    readable_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable readable_, writable_;
  int readers_ = 0;
  int writers_waiting_ = 0;
  bool writing_ = false;
};

struct Entry {
  EntryId id = 0;
  std::vector<Template> templates;
};

bool Better(const Candidate& x, const Candidate& y) {
  return x.score > y.score || (x.score == y.score && x.id < y.id);
}

}  // namespace

struct Gallery::Entries {
  mutable WriterFirstLock lock;
  // In a vector, so a search runs over them in memory order; the map finds
  // an id's place.
  std::vector<Entry> entries;
  std::unordered_map<EntryId, size_t> where;
  size_t templates = 0;
};

Gallery::Gallery() : entries_(std::make_unique<Entries>()) {}
Gallery::~Gallery() = default;

void Gallery::Add(EntryId id, Template t) {
  std::unique_lock lock(entries_->lock);
  Entries& e = *entries_;
  const auto [at, added] = e.where.try_emplace(id, e.entries.size());
  if (added) e.entries.push_back({id, {}});
  e.entries[at->second].templates.push_back(std::move(t));
  ++e.templates;
}

bool Gallery::Remove(EntryId id) {
  std::unique_lock lock(entries_->lock);
  Entries& e = *entries_;
  const auto at = e.where.find(id);
  if (at == e.where.end()) return false;
  // The last entry takes the removed one's place.
  const size_t place = at->second;
  e.templates -= e.entries[place].templates.size();
  e.where.erase(at);
  if (place + 1 != e.entries.size()) {
    e.entries[place] = std::move(e.entries.back());
    e.where[e.entries[place].id] = place;
  }
  e.entries.pop_back();
  return true;
}

void Gallery::Clear() {
  std::unique_lock lock(entries_->lock);
  entries_->entries.clear();
  entries_->where.clear();
  entries_->templates = 0;
}

bool Gallery::Contains(EntryId id) const {
  std::shared_lock lock(entries_->lock);
  return entries_->where.contains(id);
}

size_t Gallery::size() const {
  std::shared_lock lock(entries_->lock);
  return entries_->entries.size();
}

std::vector<Candidate> Gallery::Identify(const Template& probe, int32_t threshold,
                                         size_t max_candidates) const {
  return Search(probe, threshold, max_candidates, true);
}

std::vector<Candidate> Gallery::IdentifyExhaustively(const Template& probe, int32_t threshold,
                                                     size_t max_candidates) const {
  return Search(probe, threshold, max_candidates, false);
}

std::vector<Candidate> Gallery::Search(const Template& probe, int32_t threshold,
                                       size_t max_candidates, bool narrow) const {
  std::vector<Candidate> found;
  if (max_candidates == 0) return found;
  std::shared_lock lock(entries_->lock);
  const Entries& e = *entries_;
  // The entries compared in full: all of them in a small gallery; in a
  // large one the best of the quick score.
  std::vector<size_t> shortlist;
  if (!narrow || e.templates <= kCompareAllUpTo) {
    shortlist.resize(e.entries.size());
    for (size_t i = 0; i < shortlist.size(); ++i) shortlist[i] = i;
  } else {
    std::vector<std::pair<float, size_t>> quick(e.entries.size());
    const auto& coarse = probe.prepared().coarse;
    for (size_t i = 0; i < e.entries.size(); ++i) {
      float best = 0;
      for (const Template& t : e.entries[i].templates)
        best = std::max(best, QuickScore(coarse, t.prepared().coarse));
      quick[i] = {best, i};
    }
    const size_t keep =
        std::min(quick.size(), std::max(kShortlistAtLeast, quick.size() / kShortlistShare));
    std::nth_element(quick.begin(), quick.begin() + static_cast<std::ptrdiff_t>(keep - 1),
                     quick.end(), [](const auto& x, const auto& y) {
                       return x.first > y.first || (x.first == y.first && x.second < y.second);
                     });
    for (size_t i = 0; i < keep; ++i) shortlist.push_back(quick[i].second);
  }
  for (size_t i : shortlist) {
    int32_t best = -1;
    for (const Template& t : e.entries[i].templates) best = std::max(best, Compare(probe, t));
    if (best >= threshold) found.push_back({e.entries[i].id, best});
  }
  lock.unlock();
  const size_t keep = std::min(max_candidates, found.size());
  std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(keep), found.end(),
                    Better);
  found.resize(keep);
  return found;
}

}  // namespace dactyra::matching
