// One-to-many search: a gallery of prepared templates under numeric ids,
// searched for the entries most like a probe.
//
// An id may hold several templates (several impressions of one finger); its
// score against a probe is the best of theirs.
//
// A gallery of up to kCompareAllUpTo templates is searched by comparing the
// probe with every one. A larger one is first ranked by a quick score over
// coarse cylinders (coarse.h, a fraction of a comparison's cost), and only
// the best 1/kShortlistShare of its ids, and at least kShortlistAtLeast, are
// compared in full: so a search costs about as much as its gallery is
// large, and an id the quick score ranks below them is not found even if
// its full score would reach the threshold. The benchmark's rank-1 rows
// among 10,000 ids measure how rarely that happens; IdentifyExhaustively
// compares every one.
//
// Threads and locks: one reader-writer lock. Identify, Contains and size
// take it shared, so any number of threads search at once; Add, Remove and
// Clear take it exclusive and wait for running searches to end. A waiting
// writer holds off searches that have not started, so a steady stream of
// searches cannot starve it. No callback runs under the lock, and nothing
// else is locked while it is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "matching/compare.h"
#include "matching/template.h"

namespace dactyra::matching {

using EntryId = int64_t;

struct Candidate {
  EntryId id = 0;
  int32_t score = 0;
  friend bool operator==(const Candidate&, const Candidate&) = default;
};

class Gallery {
 public:
  static constexpr size_t kCompareAllUpTo = 500;
  static constexpr size_t kShortlistShare = 64;
  static constexpr size_t kShortlistAtLeast = 100;

  Gallery();
  ~Gallery();
  Gallery(const Gallery&) = delete;
  Gallery& operator=(const Gallery&) = delete;

  // Adds `t` to the templates of `id` (a new entry when `id` is not there).
  void Add(EntryId id, Template t);
  // Removes `id` with all its templates; false when it was not there.
  bool Remove(EntryId id);
  void Clear();

  bool Contains(EntryId id) const;
  // The number of ids.
  size_t size() const;

  // The ids whose score against `probe` reaches `threshold`, best first (an
  // equal score puts the smaller id first), at most `max_candidates` of
  // them. Each id appears once, with the score Compare gives its best
  // template.
  std::vector<Candidate> Identify(const Template& probe, int32_t threshold,
                                  size_t max_candidates) const;
  // The same with every template compared in full, however large the
  // gallery: the reference the narrowed search is measured against, and
  // the choice of a caller that would rather wait than miss.
  std::vector<Candidate> IdentifyExhaustively(const Template& probe, int32_t threshold,
                                              size_t max_candidates) const;

 private:
  std::vector<Candidate> Search(const Template& probe, int32_t threshold,
                                size_t max_candidates, bool narrow) const;

  struct Entries;
  std::unique_ptr<Entries> entries_;
};

}  // namespace dactyra::matching
