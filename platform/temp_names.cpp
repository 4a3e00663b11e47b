#include "platform/temp_names.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/file_times.h"
#include "platform/folder_entries.h"

namespace {

// A temporary this old is stale whoever made it: no whole-file write takes
// anywhere near this long.
constexpr auto kStaleTemporaryAge = std::chrono::hours(24);
// A temporary of a process that is gone is left alone this long: the folder
// may be shared with another machine, where that process id means another
// process, and a write there lasts well under this.
constexpr auto kOrphanGrace = std::chrono::minutes(2);
// Temporaries that can be in flight at once: one per worker (at most 256)
// plus the nested save of the imaging layer, with room to spare.
constexpr int kInFlightSlots = 600;
// Longest temporary path the table holds; longer ones are not registered.
constexpr std::size_t kMaxInFlightPath = 4096;

const char kStem[] = ".vltr-";
const char kTail[] = ".tmp";

std::atomic<unsigned long> temp_counter{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the in-flight table is used from a signal handler");

struct InFlight {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 registered
  NativeChar path[kMaxInFlightPath];
};
InFlight in_flight[kInFlightSlots];

// An abrupt exit stops new temporaries (ending) and waits for the creations
// under way (creating counts them) before it removes what is registered, so
// no file can appear after the removal. The wait is bounded: 1 ms pauses,
// 1 s in all; a file system that hangs longer is not waited for.
std::atomic<bool> ending{false};
std::atomic<int> creating{0};
constexpr int kCreationWaitPauses = 1000;

bool IsSeparator(NativeChar c) {
#ifdef _WIN32
  return c == L'\\' || c == L'/';
#else
  return c == '/';
#endif
}

NativePath FromAscii(const std::string& ascii) { return NativePath(ascii.begin(), ascii.end()); }

// Reads a run of 1..max_digits decimal digits at name[pos]; false when none.
bool Digits(const NativePath& name, std::size_t& pos, std::size_t max_digits, unsigned long long& value) {
  std::size_t start = pos;
  value = 0;
  while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9' && pos - start < max_digits)
    value = value * 10 + static_cast<unsigned>(name[pos++] - '0');
  return pos > start;
}

bool Literal(const NativePath& name, std::size_t& pos, const char* text) {
  for (; *text; ++text, ++pos)
    if (pos >= name.size() || name[pos] != static_cast<NativeChar>(*text)) return false;
  return true;
}

}  // namespace

NativePath TemporaryPathBeside(const NativePath& target) {
  std::size_t name_start = target.size();
  while (name_start > 0 && !IsSeparator(target[name_start - 1])) --name_start;
  const std::string name = kStem + std::to_string(CurrentProcessId()) + "-" +
                           std::to_string(temp_counter.fetch_add(1)) + kTail;
  return target.substr(0, name_start) + FromAscii(name);
}

bool ParseTemporaryName(const NativePath& name, unsigned long& pid) {
  std::size_t pos = 0;
  unsigned long long id = 0, n = 0;
  if (!Literal(name, pos, kStem) || !Digits(name, pos, 10, id) || !Literal(name, pos, "-") ||
      !Digits(name, pos, 20, n) || !Literal(name, pos, kTail) || pos != name.size())
    return false;
  pid = static_cast<unsigned long>(id);
  return true;
}

int RemoveStaleTemporaries(const NativePath& folder) {
  int removed = 0;
  std::error_code ec;
  const std::int64_t now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
  for (const FolderEntry& entry : ListFolderEntries(folder, ec)) {
    unsigned long pid = 0;
    if (!ParseTemporaryName(entry.name, pid)) continue;
    if (!entry.regular || entry.link) continue;  // ours are plain files
    const NativePath path = JoinPath(folder, entry.name);
    const FileTimes times = ReadFileTimes(path);
    if (!times.known) continue;
    const auto age = std::chrono::nanoseconds(now_ns - times.modified_ns);
    const bool stale = age > kStaleTemporaryAge ||
                       (age > kOrphanGrace && pid != CurrentProcessId() && !ProcessMayBeRunning(pid));
    if (stale && RemoveFileNow(path.c_str())) ++removed;
  }
  return removed;
}

int RegisterTemporary(const NativePath& path) {
  if (path.size() >= kMaxInFlightPath) return -1;
  for (int i = 0; i < kInFlightSlots; ++i) {
    int expected = 0;
    if (!in_flight[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(in_flight[i].path, path.c_str(), (path.size() + 1) * sizeof(NativeChar));
    in_flight[i].state.store(2);
    return i;
  }
  return -1;
}

void ReleaseTemporary(int slot) {
  if (slot >= 0 && slot < kInFlightSlots) in_flight[slot].state.store(0);
}

bool BeginCreatingTemporary() {
  creating.fetch_add(1);
  if (!ending.load()) return true;
  creating.fetch_sub(1);
  return false;
}

void EndCreatingTemporary() { creating.fetch_sub(1); }

void RemoveTemporariesInFlight() {
  ending.store(true);
  for (int i = 0; i < kCreationWaitPauses && creating.load() > 0; ++i) PauseBriefly();
  for (InFlight& slot : in_flight)
    if (slot.state.load() == 2) RemoveFileNow(slot.path);
}
