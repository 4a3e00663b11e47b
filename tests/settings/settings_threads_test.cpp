// Two commands at once: threads that load, change and save the settings at
// the same time. Run under the sanitizer build too, which sees any race on
// the store's maps.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

fs::path FreshFolder(const std::string& name) {
  static const ScratchFolder root("vltr-settings-threads");
  fs::path dir = root.path() / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

constexpr int kRounds = 1500;

}  // namespace

// Regression: loading cleared and refilled the shared map in place while the
// other thread read, changed or saved it. Each operation is whole now: no
// torn map, and the file stays a complete settings file throughout.
TEST(SettingsThreads, TwoThreadsHammeringLoadSetAndSaveOnTheSharedStore) {
  const fs::path dir = FreshFolder("shared");
  const NativePath file = (dir / "VLTR.cfg").native();
  TheSettingsStore().Clear();
  SettingsRecord{}.SaveToStore();
  ASSERT_TRUE(SaveSettingsToPath(file));
  auto hammer = [&](std::int32_t section) {
    for (int i = 0; i < kRounds; ++i) {
      LoadSettingsFromPath(file);
      SetIntSetting(section, i % 5, i);
      SettingsRecord record;
      record.LoadFromStore();
      record.SaveToStore();
      std::int32_t value = 0;
      GetIntSetting(section, i % 5, value);
      SaveSettingsToPath(file);
    }
  };
  std::thread a(hammer, 1), b(hammer, 2);
  a.join();
  b.join();
  LoadSettingsFromPath(file);
  SettingsRecord record;
  record.LoadFromStore();
  EXPECT_EQ(record.maxWidth, 800);
  std::int32_t value = -1;
  EXPECT_TRUE(GetIntSetting(kRecordSection, kKeyUseSubfolders, value));
  TheSettingsStore().Clear();
  fs::remove_all(dir.parent_path());
}

// Regression: two commands shared one store, so one window could save what
// the other had loaded or set. With a store bound per command, each thread
// reads back exactly what it set and saves only its own file's content.
TEST(SettingsThreads, EachCommandLoadsChangesAndSavesItsOwnStore) {
  const fs::path dir = FreshFolder("own");
  auto command = [&](std::int32_t id, bool* kept) {
    const NativePath file = (dir / ("VLTR" + std::to_string(id) + ".cfg")).native();
    SettingsStore mine;
    ScopedSettingsStore bind(mine);
    *kept = true;
    for (int i = 0; i < kRounds && *kept; ++i) {
      LoadSettingsFromPath(file);
      SettingsRecord record;
      record.LoadFromStore();
      if (i > 0 && record.maxWidth != id * 10000 + i - 1) *kept = false;
      record.maxWidth = id * 10000 + i;
      record.SaveToStore();
      *kept = *kept && SaveSettingsToPath(file);
    }
  };
  bool keptA = false, keptB = false;
  std::thread a(command, 1, &keptA), b(command, 2, &keptB);
  a.join();
  b.join();
  EXPECT_TRUE(keptA);
  EXPECT_TRUE(keptB);
  EXPECT_TRUE(TheSettingsStore().Empty());  // the shared store was never touched
  fs::remove_all(dir.parent_path());
}
