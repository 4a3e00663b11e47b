// The process-wide keyed store of user settings and its binary file.
//
// The store maps a signed section number to a map from signed key number to a
// value; both levels are kept in ascending order, which is also the order of
// the file. The file is little-endian: magic, section count, then for each
// section its number, entry count and entries (key, kind, payload).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/native_path.h"

enum class SettingKind : std::int32_t { Integer = 0, Text = 1, Bytes = 2 };

// Only the field named by `kind` is read or written out; changing the kind
// leaves the other fields as they were. A kind outside the three known ones
// is kept as read and has no payload.
struct SettingValue {
  SettingKind kind = SettingKind::Integer;
  std::int32_t integer = 0;
  std::u16string text;
  std::string bytes;
};

class SettingsStore {
 public:
  using Section = std::map<std::int32_t, SettingValue>;
  using Sections = std::map<std::int32_t, Section>;

  void Clear() { sections_.clear(); }
  void Swap(SettingsStore& other) noexcept { sections_.swap(other.sections_); }
  bool Empty() const { return sections_.empty(); }

  const Sections& sections() const { return sections_; }
  Sections& sections() { return sections_; }

  // Creates the section (and the entry) when absent.
  Section& SectionAt(std::int32_t section) { return sections_[section]; }
  SettingValue& EntryAt(std::int32_t section, std::int32_t key) { return sections_[section][key]; }

  // Null when the section or key does not exist; never creates anything.
  const SettingValue* Find(std::int32_t section, std::int32_t key) const;

  // True and value set when the entry exists with kind Integer; otherwise
  // false and value untouched.
  bool GetInt(std::int32_t section, std::int32_t key, std::int32_t& value) const;
  // Creates the section and entry when absent; sets kind Integer and value.
  void SetInt(std::int32_t section, std::int32_t key, std::int32_t value);

 private:
  Sections sections_;
};

// The store of the calling thread: the one its current command bound with
// ScopedSettingsStore, else the one shared store of the process. A plain
// reference, unguarded: code that can run beside other threads goes through
// SettingsStoreAccess or the helpers below instead.
SettingsStore& TheSettingsStore();

// Binds `store` to the calling thread for the scope's life, so that a
// command's loads, changes and saves use its own copy: two commands on two
// threads then neither tear one map nor save each other's settings.
class ScopedSettingsStore {
 public:
  explicit ScopedSettingsStore(SettingsStore& store) noexcept;
  ~ScopedSettingsStore();
  ScopedSettingsStore(const ScopedSettingsStore&) = delete;
  ScopedSettingsStore& operator=(const ScopedSettingsStore&) = delete;

 private:
  SettingsStore* previous_;
};

// Whole access to the calling thread's store: a bound store as it is, the
// shared store with its lock held for the object's life (the lock is
// released however the scope ends). Call no helper below while one is
// alive on the same thread.
class SettingsStoreAccess {
 public:
  SettingsStoreAccess();
  SettingsStore& store() const { return *store_; }

 private:
  std::unique_lock<std::mutex> lock_;
  SettingsStore* store_;
};

// Helpers on the calling thread's store, each one whole under the shared
// store's lock when no store is bound. A flag is stored as Integer 0 or 1
// and reads back as true for any non-zero integer.
bool GetIntSetting(std::int32_t section, std::int32_t key, std::int32_t& value);
bool GetBoolSetting(std::int32_t section, std::int32_t key, bool& flag);
void SetIntSetting(std::int32_t section, std::int32_t key, std::int32_t value);
void SetBoolSetting(std::int32_t section, std::int32_t key, bool flag);

// Magic number at the start of the settings file (bytes 72 74 6C 76).
inline constexpr std::uint32_t kSettingsMagic = 0x766C7472;

// Per-user application-data folder: $XDG_CONFIG_HOME (when absolute), else
// $HOME/.config on Linux and macOS; the roaming AppData folder on Windows.
// Looked up once per process. Empty when it cannot be determined.
NativePath AppDataFolder();

// AppDataFolder()/Kerbelin/VLTR/VLTR.cfg with the platform's separator;
// empty when AppDataFolder() is empty.
NativePath SettingsFilePath();

// Replaces the content of the calling thread's store with the file
// AppDataFolder()/vendor/product/file. A missing, unreadable or foreign file
// leaves the store empty; a damaged one keeps the entries before the damage.
// Skips everything when the application-data folder is unknown.
void LoadSettingsFile(std::uint32_t magic, const NativePath& vendor, const NativePath& product,
                      const NativePath& file);
// Writes the calling thread's store to that file, creating the two folders first. The
// file is replaced atomically; on failure the previous file stays.
void SaveSettingsFile(std::uint32_t magic, const NativePath& vendor, const NativePath& product,
                      const NativePath& file);

// What a load found in the file.
enum class SettingsFileState {
  kAbsent,      // no file: the defaults apply
  kRead,        // read whole
  kUnreadable,  // there, but it cannot be opened or is too large to be ours
  kForeign,     // does not start with the magic number: not a settings file
  kDamaged,     // ends inside an entry, or holds bytes after the last section
};

// The same with an explicit path and kSettingsMagic, for tests and the
// command-line tool. SaveSettingsToPath creates missing parent folders and
// reports whether the file was written.
SettingsFileState LoadSettingsFromPath(const NativePath& path);
bool SaveSettingsToPath(const NativePath& path);

// Pure byte forms. ParseSettingsBytes replaces the content of `store`; it
// never reads or allocates beyond `bytes`, and on damage keeps every entry
// that was complete before it. Returns kRead, kForeign or kDamaged.
SettingsFileState ParseSettingsBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t magic,
                                     SettingsStore& store);
std::vector<std::uint8_t> SerializeSettings(const SettingsStore& store, std::uint32_t magic);
