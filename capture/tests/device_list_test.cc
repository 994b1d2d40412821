// The checks on device list blocks, over blocks built in memory.
#include "capture/vxr/device_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "plugins/interface/vxr_plugin.h"

namespace dactyra {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A block as a plug-in writes it, in a buffer of exactly its size.
class Block {
 public:
  explicit Block(const std::vector<std::string>& serials) {
    size_t size = VXR_DEVICE_LIST_EMPTY_SIZE;
    for (const std::string& s : serials) size += VXR_DEVICE_LIST_ENTRY_SIZE(s.size());
    bytes_.assign(size, 0);
    SetCount(static_cast<uint32_t>(serials.size()));
    size_t text = VXR_DEVICE_LIST_TEXT_OFFSET(serials.size());
    for (size_t i = 0; i < serials.size(); ++i) {
      SetPointer(i, text);
      std::memcpy(bytes_.data() + text, serials[i].data(), serials[i].size());
      text += serials[i].size() + 1;
    }
  }
  void SetCount(uint32_t count) { std::memcpy(bytes_.data(), &count, 4); }
  void SetPointer(size_t i, ptrdiff_t offset) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(bytes_.data()) + offset;
    std::memcpy(bytes_.data() + 4 + i * sizeof(char*), &address, sizeof(address));
  }
  std::optional<DeviceListFault> Read(std::vector<std::string>& serials) {
    return ReadDeviceListBlock(bytes_.data(), bytes_.size(), serials);
  }
  int32_t size() const { return static_cast<int32_t>(bytes_.size()); }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

void ExpectFault(const std::optional<DeviceListFault>& fault, int check, int32_t size,
                 int32_t value) {
  ASSERT_TRUE(fault.has_value());
  EXPECT_EQ(fault->check, check);
  EXPECT_EQ(fault->size, size);
  EXPECT_EQ(fault->value, value);
}

TEST(DeviceListBlock, ReadsWellFormedBlocks) {
  Block block({"0A1B2C3D", "", "x"});
  std::vector<std::string> serials;
  EXPECT_FALSE(block.Read(serials).has_value());
  EXPECT_THAT(serials, ElementsAre("0A1B2C3D", "", "x"));
  Block none({});
  serials.clear();
  EXPECT_FALSE(none.Read(serials).has_value());
  EXPECT_THAT(serials, IsEmpty());
}

TEST(DeviceListBlock, AHugeCountDoesNotWrapIntoTheBuffer) {
  Block block({"AB"});
  block.SetCount(0xFFFFFFFFu);
  std::vector<std::string> serials;
  ExpectFault(block.Read(serials), 1, block.size(), -1);
  // Exactly filling the block with pointers leaves no text area: the first
  // pointer cannot lie in it.
  // Seven characters and a NUL make the block a whole number of pointers
  // past its count, with 4- and 8-byte pointers alike.
  Block tight({"ABCDEFG"});
  tight.SetCount(static_cast<uint32_t>((tight.size() - 4) / sizeof(char*)));
  const uint32_t count = DeviceListCount(tight.bytes().data(), tight.bytes().size());
  ASSERT_EQ(VXR_DEVICE_LIST_TEXT_OFFSET(count), static_cast<size_t>(tight.size()));
  ExpectFault(tight.Read(serials), 2, tight.size(), 0);
}

TEST(DeviceListBlock, PointersOutsideTheTextAreaFail) {
  std::vector<std::string> serials;
  Block below({"AB", "CD"});
  below.SetPointer(1, -100);
  // The second pointer is the first entry's end bound, so entry 0 fails.
  ExpectFault(below.Read(serials), 3, below.size(), 0);
  Block beyond({"AB", "CD"});
  beyond.SetPointer(1, beyond.size() + 1000);
  serials.clear();
  ExpectFault(beyond.Read(serials), 2, beyond.size(), 1);
  EXPECT_THAT(serials, ElementsAre("AB"));
  Block last({"AB"});
  last.SetPointer(0, last.size() - 1);
  last.bytes().back() = 'X';
  serials.clear();
  ExpectFault(last.Read(serials), 4, last.size(), 0);
}

TEST(DeviceListBlock, EntriesMayShareTheirTextOnlyInOrder) {
  // Two pointers at the same text: the first entry has no room.
  Block same({"AB", "CD"});
  same.SetPointer(1, VXR_DEVICE_LIST_TEXT_OFFSET(2));
  std::vector<std::string> serials;
  ExpectFault(same.Read(serials), 3, same.size(), 0);
  // A later pointer into the middle of an earlier text bounds that text.
  Block middle({"ABCD", "EF"});
  middle.SetPointer(1, VXR_DEVICE_LIST_TEXT_OFFSET(2) + 2);
  serials.clear();
  ExpectFault(middle.Read(serials), 4, middle.size(), 0);
}

}  // namespace
}  // namespace dactyra
