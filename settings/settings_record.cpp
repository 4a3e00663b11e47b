#include "settings/settings_record.h"

#include "settings/settings_store.h"

namespace {

NativePath Ascii(const char* text) {
  NativePath out;
  for (; *text != '\0'; ++text) out.push_back(static_cast<NativeChar>(*text));
  return out;
}

}  // namespace

void SettingsRecord::LoadFromStore() {
  *this = SettingsRecord{};
  GetIntSetting(kRecordSection, kKeyMakeSmallerCopies, makeSmallerCopies);
  GetIntSetting(kRecordSection, kKeyMaxWidth, maxWidth);
  GetIntSetting(kRecordSection, kKeyMaxHeight, maxHeight);
  GetBoolSetting(kRecordSection, kKeyAddSuffix, addSuffix);
  GetBoolSetting(kRecordSection, kKeyUseSubfolders, useSubfolders);
  GetIntSetting(kRecordSection, kKeyExifMode, exifMode);
}

void SettingsRecord::SaveToStore() const {
  SetIntSetting(kRecordSection, kKeyMakeSmallerCopies, makeSmallerCopies);
  SetIntSetting(kRecordSection, kKeyMaxWidth, maxWidth);
  SetIntSetting(kRecordSection, kKeyMaxHeight, maxHeight);
  SetBoolSetting(kRecordSection, kKeyAddSuffix, addSuffix);
  SetBoolSetting(kRecordSection, kKeyUseSubfolders, useSubfolders);
  // Stored only once it differs from the default, so that a file of the
  // defaults keeps its five entries.
  std::int32_t stored = 0;
  if (exifMode != 0 || GetIntSetting(kRecordSection, kKeyExifMode, stored))
    SetIntSetting(kRecordSection, kKeyExifMode, exifMode);
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
