#include "settings/settings_record.h"

#include "settings/settings_store.h"

namespace {

NativePath Ascii(const char* text) {
  NativePath out;
  for (; *text != '\0'; ++text) out.push_back(static_cast<NativeChar>(*text));
  return out;
}

}  // namespace

// Both directions take all the entries in one access, so another thread's
// load never lands between two of them.
void SettingsRecord::LoadFromStore() {
  *this = SettingsRecord{};
  SettingsStoreAccess access;
  const SettingsStore& store = access.store();
  store.GetInt(kRecordSection, kKeyMakeSmallerCopies, makeSmallerCopies);
  store.GetInt(kRecordSection, kKeyMaxWidth, maxWidth);
  store.GetInt(kRecordSection, kKeyMaxHeight, maxHeight);
  std::int32_t flag = 0;
  if (store.GetInt(kRecordSection, kKeyAddSuffix, flag)) addSuffix = flag != 0;
  if (store.GetInt(kRecordSection, kKeyUseSubfolders, flag)) useSubfolders = flag != 0;
  store.GetInt(kRecordSection, kKeyExifMode, exifMode);
  store.GetInt(kRecordSection, kKeyScaledQuality, scaledQuality);
}

void SettingsRecord::SaveToStore() const {
  SettingsStoreAccess access;
  SettingsStore& store = access.store();
  store.SetInt(kRecordSection, kKeyMakeSmallerCopies, makeSmallerCopies);
  store.SetInt(kRecordSection, kKeyMaxWidth, maxWidth);
  store.SetInt(kRecordSection, kKeyMaxHeight, maxHeight);
  store.SetInt(kRecordSection, kKeyAddSuffix, addSuffix ? 1 : 0);
  store.SetInt(kRecordSection, kKeyUseSubfolders, useSubfolders ? 1 : 0);
  // Stored only once it differs from the default, so that a file of the
  // defaults keeps its five entries.
  std::int32_t stored = 0;
  if (exifMode != SettingsRecord{}.exifMode || store.GetInt(kRecordSection, kKeyExifMode, stored))
    store.SetInt(kRecordSection, kKeyExifMode, exifMode);
  if (scaledQuality != SettingsRecord{}.scaledQuality || store.GetInt(kRecordSection, kKeyScaledQuality, stored))
    store.SetInt(kRecordSection, kKeyScaledQuality, scaledQuality);
}

NativePath SettingsRecord::FolderPattern(bool scaled) const {
  if (!useSubfolders) return {};
  return Ascii(scaled ? "extracted_jpegs_%W" : "extracted_jpegs");
}

NativePath SettingsRecord::FilePattern(bool scaled) const {
  if (addSuffix) return Ascii(scaled ? "%N_VLTR_%W.jpg" : "%N_VLTR.jpg");
  // Without the suffix and with sub-folders the scaled copy keeps the plain
  // name: its folder alone tells it apart.
  if (useSubfolders || !scaled) return Ascii("%N.jpg");
  return Ascii("%N_%W.jpg");
}
