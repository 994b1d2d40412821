#include "support/object_array.h"

#include <gtest/gtest.h>

namespace dactyra {
namespace {

TEST(AdicionarObjeto, AppendsAndReturnsTheObjectWithoutOwningIt) {
  int a = 1, b = 2;
  TObjectDynArray<int> array;
  EXPECT_EQ(AdicionarObjeto(array, &a), &a);
  EXPECT_EQ(AdicionarObjeto(array, &b), &b);
  EXPECT_EQ(AdicionarObjeto(array, &a), &a);
  ASSERT_EQ(array.size(), 3u);
  EXPECT_EQ(array[0], &a);
  EXPECT_EQ(array[1], &b);
  EXPECT_EQ(array.back(), &a);
  int* none = nullptr;
  EXPECT_EQ(AdicionarObjeto(array, none), nullptr);
  EXPECT_EQ(array.size(), 4u);
}

}  // namespace
}  // namespace dactyra
