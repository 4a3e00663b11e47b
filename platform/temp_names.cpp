#include "platform/temp_names.h"

#include <atomic>
#include <string>

namespace {

std::atomic<unsigned long> temp_counter{0};

bool IsSeparator(NativeChar c) {
#ifdef _WIN32
  return c == L'\\' || c == L'/';
#else
  return c == '/';
#endif
}

NativePath FromAscii(const std::string& ascii) { return NativePath(ascii.begin(), ascii.end()); }

}  // namespace

NativePath TemporaryPathBeside(const NativePath& target) {
  std::size_t name_start = target.size();
  while (name_start > 0 && !IsSeparator(target[name_start - 1])) --name_start;
  const std::string name = ".vltr-" + std::to_string(CurrentProcessId()) + "-" +
                           std::to_string(temp_counter.fetch_add(1)) + ".tmp";
  return target.substr(0, name_start) + FromAscii(name);
}
