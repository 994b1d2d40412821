// The gallery: what a search returns, how entries come and go, and searches
// running while entries change.
#include "matching/gallery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "matching/tests/grown_fingers.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::matching {
namespace {

namespace fp = sim::fingerprint;

using testing::FingerOf;


Template Impression(uint64_t finger, uint64_t seed) {
  fp::ImpressionOptions o;
  o.seed = seed;
  o.rotation_degrees = static_cast<double>(seed % 5) * 7 - 14;
  o.shift_x = static_cast<double>(seed % 3) * 10 - 10;
  o.noise = 8;
  o.distortion = 4;
  std::vector<Minutia> m;
  for (const auto& t : FingerOf(finger).Render(320, 365, o).minutiae)
    m.push_back({t.x, t.y, t.direction, MinutiaKind::kEnding});
  return Template::FromMinutiae(m);
}

class GalleryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (EntryId id = 1; id <= 12; ++id) gallery_.Add(id, Impression(static_cast<uint64_t>(id), 0));
  }
  Gallery gallery_;
};

TEST_F(GalleryTest, FindsTheMateFirstAboveTheThreshold) {
  for (EntryId id = 1; id <= 12; ++id) {
    const auto found = gallery_.Identify(Impression(static_cast<uint64_t>(id), 1), 0, 3);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].id, id);
    EXPECT_GE(found[0].score, found[1].score);
    EXPECT_GE(found[1].score, found[2].score);
    // At the default threshold only the mate is left.
    const auto strict = gallery_.Identify(Impression(static_cast<uint64_t>(id), 1),
                                          kDefaultThreshold, 10);
    ASSERT_EQ(strict.size(), 1u) << id;
    EXPECT_EQ(strict[0].id, id);
  }
  EXPECT_TRUE(gallery_.Identify(Impression(99, 1), kDefaultThreshold, 10).empty());
  EXPECT_TRUE(gallery_.Identify(Impression(1, 1), 0, 0).empty());
  EXPECT_EQ(gallery_.Identify(Impression(1, 1), 0, 100).size(), 12u);
}

TEST_F(GalleryTest, AnIdScoresItsBestTemplateAndGoesWithAllOfThem) {
  const Template probe = Impression(20, 2);
  EXPECT_TRUE(gallery_.Identify(probe, kDefaultThreshold, 5).empty());
  // Id 3 gains a template of finger 20: its score is now that one's.
  gallery_.Add(3, Impression(20, 3));
  const auto found = gallery_.Identify(probe, kDefaultThreshold, 5);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], (Candidate{3, Compare(probe, Impression(20, 3))}));
  EXPECT_EQ(gallery_.size(), 12u);
  EXPECT_TRUE(gallery_.Remove(3));
  EXPECT_FALSE(gallery_.Remove(3));
  EXPECT_FALSE(gallery_.Contains(3));
  EXPECT_TRUE(gallery_.Identify(probe, kDefaultThreshold, 5).empty());
  gallery_.Clear();
  EXPECT_EQ(gallery_.size(), 0u);
  EXPECT_TRUE(gallery_.Identify(probe, 0, 5).empty());
}

TEST_F(GalleryTest, SearchesRunWhileEntriesComeAndGo) {
  std::atomic<bool> stop{false};
  std::atomic<int> searches{0}, wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r)
    readers.emplace_back([&, r] {
      const EntryId id = 1 + r;
      const Template probe = Impression(static_cast<uint64_t>(id), 4);
      while (!stop) {
        const auto found = gallery_.Identify(probe, kDefaultThreshold, 1);
        if (found.size() != 1 || found[0].id != id) ++wrong;
        ++searches;
      }
    });
  const Template extra = Impression(50, 0);
  for (int i = 0; i < 40; ++i) {
    gallery_.Add(100 + i, extra);
    if (i % 2) gallery_.Remove(100 + i - 1);
  }
  while (searches < 30) std::this_thread::yield();
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(gallery_.size(), 12u + 20u);
}

// A template like a finger's that matches none: each quarter of the
// picture from an impression of another finger (of 12 fingers × 3, made
// once).
Template Chimera(uint64_t seed) {
  static const std::vector<Template> pieces = [] {
    std::vector<Template> made;
    for (uint64_t finger = 1; finger <= 12; ++finger)
      for (uint64_t k = 10; k < 13; ++k) made.push_back(Impression(finger, k));
    return made;
  }();
  std::vector<Minutia> m;
  for (uint64_t quarter = 0; quarter < 4; ++quarter) {
    const Template& from = pieces[(seed * 7 + quarter * 11 + seed / 5) % pieces.size()];
    for (const Minutia& x : from.minutiae())
      if ((x.x >= 160) == (quarter % 2 == 1) && (x.y >= 182) == (quarter / 2 == 1)) m.push_back(x);
  }
  return Template::FromMinutiae(m);
}

// Beyond kCompareAllUpTo templates a search compares in full only those the
// quick score ranks first: it must still find what comparing every one finds.
TEST_F(GalleryTest, ANarrowedSearchFindsWhatAnExhaustiveOneFinds) {
  // The mates last, so a quick score that ranked nothing would leave them out.
  gallery_.Clear();
  for (uint64_t i = 0; i < Gallery::kCompareAllUpTo; ++i)
    gallery_.Add(static_cast<EntryId>(1000 + i), Chimera(i));
  for (EntryId id = 1; id <= 12; ++id) gallery_.Add(id, Impression(static_cast<uint64_t>(id), 0));
  for (EntryId id = 1; id <= 12; ++id)
    for (uint64_t seed : {1, 2}) {
      const Template probe = Impression(static_cast<uint64_t>(id), seed);
      const auto narrowed = gallery_.Identify(probe, 0, 3);
      const auto exhaustive = gallery_.IdentifyExhaustively(probe, 0, 3);
      ASSERT_EQ(narrowed.size(), 3u);
      EXPECT_EQ(narrowed[0], exhaustive[0]) << id;
      EXPECT_EQ(narrowed[0].id, id);
      // Whatever else it gives carries its full score.
      for (const Candidate& c : narrowed) {
        const auto alone = gallery_.IdentifyExhaustively(probe, c.score, 1000);
        EXPECT_NE(std::find(alone.begin(), alone.end(), c), alone.end()) << id;
      }
      EXPECT_EQ(gallery_.Identify(probe, kDefaultThreshold, 5),
                gallery_.IdentifyExhaustively(probe, kDefaultThreshold, 5)) << id;
    }
}

}  // namespace
}  // namespace dactyra::matching
