// A child for the end-to-end tests: prints its arguments (and its memory policy, if asked), then
// exits with the code, or dies by the signal, it is told.
#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string MemoryPolicy() {
  const unsigned long bits = 32768;
  std::vector<unsigned long> nodes(bits / (8 * sizeof(unsigned long)));
  int mode = 0;
  if (syscall(SYS_get_mempolicy, &mode, nodes.data(), bits + 1, nullptr, 0UL) != 0) {
    return "unknown";
  }
  std::string policy = mode == MPOL_PREFERRED ? "preferred"
                       : mode == MPOL_DEFAULT ? "default"
                                              : "other";
  for (unsigned long node = 0; node < bits; ++node) {
    if (nodes[node / (8 * sizeof(unsigned long))] >> (node % (8 * sizeof(unsigned long))) & 1) {
      policy += " " + std::to_string(node);
    }
  }
  return policy;
}

bool Option(const char* argument, const char* name, const char** value) {
  const std::size_t length = std::strlen(name);
  if (std::strncmp(argument, name, length) != 0) return false;
  *value = argument + length;
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string out = std::string("arg0:") + argv[0] + "\n";
  int exit_code = 0;
  int signal_number = 0;
  for (int i = 1; i < argc; ++i) {
    out += std::string("arg:") + argv[i] + "\n";
    const char* value = nullptr;
    if (Option(argv[i], "--exit=", &value))
      exit_code = static_cast<int>(std::strtol(value, nullptr, 10));
    if (Option(argv[i], "--signal=", &value))
      signal_number = static_cast<int>(std::strtol(value, nullptr, 10));
    if (std::strcmp(argv[i], "--policy") == 0) out += "policy:" + MemoryPolicy() + "\n";
  }
  for (std::size_t done = 0; done < out.size();) {
    const ssize_t written = write(STDOUT_FILENO, out.data() + done, out.size() - done);
    if (written <= 0) return 99;
    done += static_cast<std::size_t>(written);
  }
  if (signal_number != 0) {
    static_cast<void>(std::signal(signal_number, SIG_DFL));
    static_cast<void>(std::raise(signal_number));
  }
  return exit_code;
}
