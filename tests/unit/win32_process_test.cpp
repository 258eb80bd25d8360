// The Linux stand-in for the attribute list; real children are in the end-to-end tests.
#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

struct alignas(16) ListStorage {
  unsigned char bytes[4096];
};

LPPROC_THREAD_ATTRIBUTE_LIST AsList(ListStorage& storage) {
  return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.bytes);
}

TEST(AttributeListStandIn, SizesThenInitialisesOnlyEnoughStorage) {
  SIZE_T size = 0;
  SetLastError(0);
  EXPECT_FALSE(InitializeProcThreadAttributeList(nullptr, 1, 0, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GT(size, 0u);

  ListStorage storage{};
  SIZE_T too_small = size - 1;
  EXPECT_FALSE(InitializeProcThreadAttributeList(AsList(storage), 1, 0, &too_small));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(too_small, size);
  EXPECT_TRUE(InitializeProcThreadAttributeList(AsList(storage), 1, 0, &size));
  DeleteProcThreadAttributeList(AsList(storage));
}

TEST(AttributeListStandIn, AcceptsOnlyTheTwoBytePreferredNode) {
  std::uint16_t node = 0;
  std::uint32_t wide_node = 0;
  const struct {
    const char* name;
    DWORD flags;
    DWORD_PTR attribute;
    PVOID value;
    SIZE_T size;
    DWORD error;  // 0: accepted
  } cases[] = {
      {"preferred node", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &node, 2, 0},
      {"value of 4 bytes", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &wide_node, 4,
       ERROR_BAD_LENGTH},
      {"value of 1 byte", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &node, 1, ERROR_BAD_LENGTH},
      {"group affinity", 0, 0x00030003, &node, 2, ERROR_NOT_SUPPORTED},
      {"flags", 1, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, &node, 2, ERROR_INVALID_PARAMETER},
      {"no value", 0, PROC_THREAD_ATTRIBUTE_PREFERRED_NODE, nullptr, 2, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ListStorage storage{};
    SIZE_T size = sizeof storage.bytes;
    ASSERT_TRUE(InitializeProcThreadAttributeList(AsList(storage), 1, 0, &size));
    SetLastError(0);
    const BOOL accepted = UpdateProcThreadAttribute(AsList(storage), c.flags, c.attribute, c.value,
                                                    c.size, nullptr, nullptr);
    EXPECT_EQ(accepted, c.error == 0 ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

}  // namespace
