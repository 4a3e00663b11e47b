#include "settings/settings_store.h"

#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

#include "platform/atomic_write.h"
#include "platform/native_file.h"
#include "platform/temp_names.h"

namespace {

// The file holds a handful of small records; anything larger than this is
// not a settings file of ours and is not read at all.
constexpr std::int64_t kMaxSettingsFileBytes = 16 * 1024 * 1024;

// Bounded little-endian reader over the file's bytes.
class ByteCursor {
 public:
  explicit ByteCursor(const std::vector<std::uint8_t>& bytes) : data_(bytes) {}

  std::size_t remaining() const { return data_.size() - pos_; }

  bool U32(std::uint32_t& v) {
    if (remaining() < 4) return false;
    const std::uint8_t* p = data_.data() + pos_;
    v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    pos_ += 4;
    return true;
  }
  bool I32(std::int32_t& v) {
    std::uint32_t u = 0;
    if (!U32(u)) return false;
    v = static_cast<std::int32_t>(u);
    return true;
  }
  // Points at the next n bytes and skips them; false when fewer remain.
  bool Take(std::uint64_t n, const std::uint8_t*& p) {
    if (n > remaining()) return false;
    p = data_.data() + pos_;
    pos_ += static_cast<std::size_t>(n);
    return true;
  }

 private:
  const std::vector<std::uint8_t>& data_;
  std::size_t pos_ = 0;
};

// Reads one entry's kind and payload into `out` (kind plus the one field it
// names). False when the file ends inside the entry.
bool ReadPayload(ByteCursor& in, SettingValue& out) {
  std::int32_t kind = 0;
  if (!in.I32(kind)) return false;
  out.kind = static_cast<SettingKind>(kind);
  switch (out.kind) {
    case SettingKind::Integer:
      return in.I32(out.integer);
    case SettingKind::Text: {
      std::uint32_t count = 0;
      const std::uint8_t* p = nullptr;
      // Two bytes per code unit: computed in 64 bits, so no overflow.
      if (!in.U32(count) || !in.Take(std::uint64_t{count} * 2, p)) return false;
      std::u16string text;
      for (std::uint32_t i = 0; i < count; ++i) {
        char16_t unit = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
        if (unit == 0) break;
        text.push_back(unit);
      }
      out.text = std::move(text);
      return true;
    }
    case SettingKind::Bytes: {
      std::uint32_t count = 0;
      const std::uint8_t* p = nullptr;
      if (!in.U32(count) || !in.Take(count, p)) return false;
      out.bytes.assign(reinterpret_cast<const char*>(p), count);
      return true;
    }
  }
  return true;  // unknown kinds carry no payload
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 24));
}

NativePath SettingsPath(const NativePath& vendor, const NativePath& product, const NativePath& file) {
  NativePath folder = AppDataFolder();
  if (folder.empty()) return {};
  return JoinPath(JoinPath(JoinPath(folder, vendor), product), file);
}

// The file's content parsed into a fresh store (empty when the file is
// missing, unreadable or foreign), then swapped into the thread's store in
// one step: the file work runs without the lock.
SettingsFileState LoadFromPath(const NativePath& path, std::uint32_t magic) {
  SettingsStore loaded;
  SettingsFileState state = SettingsFileState::kAbsent;
  if (!path.empty()) {
    std::error_code ec;
    if (std::unique_ptr<NativeFile> file = NativeFile::open_for_reading(path)) {
      std::int64_t size = file->size();
      state = SettingsFileState::kUnreadable;
      if (size >= 0 && size <= kMaxSettingsFileBytes) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        std::size_t got = file->read_at(0, bytes.data(), bytes.size());
        bytes.resize(got);
        state = ParseSettingsBytes(bytes, magic, loaded);
      }
    } else if (std::filesystem::exists(std::filesystem::path(path), ec)) {
      state = SettingsFileState::kUnreadable;
    }
  }
  SettingsStoreAccess access;
  access.store().Swap(loaded);
  return state;
}

// The thread's store serialised in one step, then written without the lock.
bool SaveToPath(const NativePath& path, std::uint32_t magic) {
  if (path.empty()) return false;
  std::filesystem::path target(path);
  if (target.has_parent_path()) {
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    RemoveStaleTemporaries(target.parent_path().native());
  }
  std::vector<std::uint8_t> bytes;
  {
    SettingsStoreAccess access;
    bytes = SerializeSettings(access.store(), magic);
  }
  return ReplaceFileAtomically(path, bytes.data(), bytes.size());
}

// The process's shared store, its lock, and the calling thread's own store
// while a command has one bound.
SettingsStore& SharedStore() {
  static SettingsStore store;
  return store;
}
std::mutex& SharedStoreMutex() {
  static std::mutex mutex;
  return mutex;
}
thread_local SettingsStore* t_boundStore = nullptr;

}  // namespace

const SettingValue* SettingsStore::Find(std::int32_t section, std::int32_t key) const {
  auto s = sections_.find(section);
  if (s == sections_.end()) return nullptr;
  auto k = s->second.find(key);
  return k == s->second.end() ? nullptr : &k->second;
}

bool SettingsStore::GetInt(std::int32_t section, std::int32_t key, std::int32_t& value) const {
  const SettingValue* v = Find(section, key);
  if (v == nullptr || v->kind != SettingKind::Integer) return false;
  value = v->integer;
  return true;
}

void SettingsStore::SetInt(std::int32_t section, std::int32_t key, std::int32_t value) {
  SettingValue& v = EntryAt(section, key);
  v.kind = SettingKind::Integer;
  v.integer = value;
}

SettingsStore& TheSettingsStore() { return t_boundStore ? *t_boundStore : SharedStore(); }

ScopedSettingsStore::ScopedSettingsStore(SettingsStore& store) noexcept : previous_(t_boundStore) {
  t_boundStore = &store;
}

ScopedSettingsStore::~ScopedSettingsStore() { t_boundStore = previous_; }

SettingsStoreAccess::SettingsStoreAccess() : store_(t_boundStore) {
  if (!store_) {
    lock_ = std::unique_lock<std::mutex>(SharedStoreMutex());
    store_ = &SharedStore();
  }
}

bool GetIntSetting(std::int32_t section, std::int32_t key, std::int32_t& value) {
  SettingsStoreAccess access;
  return access.store().GetInt(section, key, value);
}

bool GetBoolSetting(std::int32_t section, std::int32_t key, bool& flag) {
  std::int32_t value = 0;
  if (!GetIntSetting(section, key, value)) return false;
  flag = value != 0;
  return true;
}

void SetIntSetting(std::int32_t section, std::int32_t key, std::int32_t value) {
  SettingsStoreAccess access;
  access.store().SetInt(section, key, value);
}

void SetBoolSetting(std::int32_t section, std::int32_t key, bool flag) { SetIntSetting(section, key, flag ? 1 : 0); }

SettingsFileState ParseSettingsBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t magic,
                                     SettingsStore& store) {
  constexpr SettingsFileState kDamaged = SettingsFileState::kDamaged;
  store.Clear();
  ByteCursor in(bytes);
  std::uint32_t file_magic = 0;
  if (!in.U32(file_magic) || file_magic != magic) return SettingsFileState::kForeign;
  std::uint32_t section_count = 0;
  if (!in.U32(section_count)) return kDamaged;
  // Counts are not trusted: every loop ends as soon as the bytes run out, and
  // nothing is reserved from a count.
  for (std::uint32_t s = 0; s < section_count; ++s) {
    std::int32_t section = 0;
    std::uint32_t entry_count = 0;
    if (!in.I32(section) || !in.U32(entry_count)) return kDamaged;
    SettingsStore::Section& entries = store.SectionAt(section);
    for (std::uint32_t e = 0; e < entry_count; ++e) {
      std::int32_t key = 0;
      if (!in.I32(key)) return kDamaged;
      // A later entry with the same key overwrites only the kind and the
      // field its payload names; an entry cut short is dropped.
      auto existing = entries.find(key);
      SettingValue value = existing != entries.end() ? existing->second : SettingValue{};
      if (!ReadPayload(in, value)) return kDamaged;
      entries[key] = std::move(value);
    }
  }
  return in.remaining() == 0 ? SettingsFileState::kRead : kDamaged;
}

std::vector<std::uint8_t> SerializeSettings(const SettingsStore& store, std::uint32_t magic) {
  std::vector<std::uint8_t> out;
  PutU32(out, magic);
  PutU32(out, static_cast<std::uint32_t>(store.sections().size()));
  for (const auto& [section, entries] : store.sections()) {
    PutU32(out, static_cast<std::uint32_t>(section));
    PutU32(out, static_cast<std::uint32_t>(entries.size()));
    for (const auto& [key, value] : entries) {
      PutU32(out, static_cast<std::uint32_t>(key));
      PutU32(out, static_cast<std::uint32_t>(value.kind));
      switch (value.kind) {
        case SettingKind::Integer:
          PutU32(out, static_cast<std::uint32_t>(value.integer));
          break;
        case SettingKind::Text:
          PutU32(out, static_cast<std::uint32_t>(value.text.size()));
          for (char16_t unit : value.text) {
            out.push_back(static_cast<std::uint8_t>(unit));
            out.push_back(static_cast<std::uint8_t>(unit >> 8));
          }
          break;
        case SettingKind::Bytes:
          PutU32(out, static_cast<std::uint32_t>(value.bytes.size()));
          out.insert(out.end(), value.bytes.begin(), value.bytes.end());
          break;
      }
    }
  }
  return out;
}

NativePath SettingsFilePath() {
  return SettingsPath(native_from_utf8("Kerbelin"), native_from_utf8("VLTR"), native_from_utf8("VLTR.cfg"));
}

void LoadSettingsFile(std::uint32_t magic, const NativePath& vendor, const NativePath& product,
                      const NativePath& file) {
  // No application-data folder: an empty path, so the store is left empty
  // and the record keeps its defaults.
  LoadFromPath(SettingsPath(vendor, product, file), magic);
}

void SaveSettingsFile(std::uint32_t magic, const NativePath& vendor, const NativePath& product,
                      const NativePath& file) {
  SaveToPath(SettingsPath(vendor, product, file), magic);  // no folder: nothing is saved
}

SettingsFileState LoadSettingsFromPath(const NativePath& path) { return LoadFromPath(path, kSettingsMagic); }

bool SaveSettingsToPath(const NativePath& path) { return SaveToPath(path, kSettingsMagic); }
