// A folder of a test's own in the system's temporary folder, under a name no other run takes,
// removed with everything in it when the test is done.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path candidate =
          std::filesystem::temp_directory_path() / ("nodestart-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("no scratch folder");
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
