// The fields of a process's stat as the kernel writes them, whatever the process's name.
#include "platform/linux/kernel_lists.h"

#include <sys/prctl.h>

#include <gtest/gtest.h>

namespace {

TEST(KernelLists, ReadsAStatPastAnyName) {
  char own[16] = {};
  ASSERT_EQ(prctl(PR_GET_NAME, own), 0);
  for (const char* name : {"plain", "a) S 1 (b", "))", "two words", ""}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(prctl(PR_SET_NAME, name), 0);
    std::vector<std::string> fields;
    ASSERT_TRUE(ReadStatFields(AT_FDCWD, "/proc/self/stat", fields));
    ASSERT_GE(fields.size(), 2u);
    EXPECT_EQ(fields[0], "R");  // the state: this test runs as it reads
    EXPECT_EQ(fields[1], std::to_string(getppid()));
    EXPECT_EQ(fields.back().find('\n'), std::string::npos);
  }
  prctl(PR_SET_NAME, own);
  std::vector<std::string> fields{"left"};
  EXPECT_FALSE(ReadStatFields(AT_FDCWD, "/proc/self/no-such-file", fields));
  EXPECT_TRUE(fields.empty());
}

}  // namespace
