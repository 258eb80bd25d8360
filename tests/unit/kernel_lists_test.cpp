// The fields of a process's stat as the kernel writes them, whatever the process's name (a
// program names itself: prctl, or the file it runs). Written here, as qemu-user makes up its own.
#include "platform/linux/kernel_lists.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include "support/fake_sysfs.h"
#include "support/scratch_folder.h"

namespace {

TEST(KernelLists, ReadsAStatPastAnyName) {
  const ScratchFolder scratch;
  for (const char* name : {"plain", "a) S 1 (b", "))", "two words", ""}) {
    SCOPED_TRACE(name);
    const std::string stat = "4242 (" + std::string(name) + ") R 77 4242 4242 0 -1\n";
    WriteSysfsFile(scratch.path() / "stat", stat);
    std::vector<std::string> fields;
    ASSERT_TRUE(ReadStatFields(AT_FDCWD, (scratch.path() / "stat").string(), fields));
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[0], "R");
    EXPECT_EQ(fields[1], "77");
    EXPECT_EQ(fields.back(), "-1");
  }
  std::vector<std::string> fields{"left"};
  EXPECT_FALSE(ReadStatFields(AT_FDCWD, (scratch.path() / "no-such-file").string(), fields));
  EXPECT_TRUE(fields.empty());
}

}  // namespace
