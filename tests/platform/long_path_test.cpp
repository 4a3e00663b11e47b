#include <gtest/gtest.h>

#include <string>

#include "platform/long_path.h"

namespace {

// The extended-length form is only ever made from a path that needs no
// more normalisation: anything else passes unchanged, to be normalised by
// the system as before.
TEST(LongPathTest, ExtendedLengthFormOfFullPaths) {
  const struct {
    const wchar_t* given;
    const wchar_t* expected;
  } table[] = {
      {L"C:\\photos\\IMG_1.CR2", L"\\\\?\\C:\\photos\\IMG_1.CR2"},
      {L"z:\\a", L"\\\\?\\z:\\a"},
      {L"C:\\photos\\extracted_jpegs\\", L"\\\\?\\C:\\photos\\extracted_jpegs\\"},  // a folder's separator
      {L"\\\\server\\share\\IMG_1.CR2", L"\\\\?\\UNC\\server\\share\\IMG_1.CR2"},
      // Already extended or a device path.
      {L"\\\\?\\C:\\photos\\IMG_1.CR2", L"\\\\?\\C:\\photos\\IMG_1.CR2"},
      {L"\\\\?\\UNC\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
      {L"\\\\.\\COM1", L"\\\\.\\COM1"},
      // Not full: relative, drive-relative, rooted without a drive, a bare root.
      {L"IMG_1.CR2", L"IMG_1.CR2"},
      {L"shoot\\IMG_1.CR2", L"shoot\\IMG_1.CR2"},
      {L"C:IMG_1.CR2", L"C:IMG_1.CR2"},
      {L"\\photos\\IMG_1.CR2", L"\\photos\\IMG_1.CR2"},
      {L"C:\\", L"C:\\"},
      {L"", L""},
      // Still to be normalised by the system.
      {L"C:/photos/IMG_1.CR2", L"C:/photos/IMG_1.CR2"},
      {L"C:\\photos\\.\\IMG_1.CR2", L"C:\\photos\\.\\IMG_1.CR2"},
      {L"C:\\photos\\x\\..\\IMG_1.CR2", L"C:\\photos\\x\\..\\IMG_1.CR2"},
      {L"C:\\photos\\\\IMG_1.CR2", L"C:\\photos\\\\IMG_1.CR2"},
      {L"C:\\photos.\\IMG_1.CR2", L"C:\\photos.\\IMG_1.CR2"},
      {L"C:\\photos\\IMG_1.CR2 ", L"C:\\photos\\IMG_1.CR2 "},
      {L"\\\\server\\share\\..\\x", L"\\\\server\\share\\..\\x"},
  };
  for (const auto& row : table) {
    EXPECT_EQ(ExtendedLengthForm(row.given), std::wstring(row.expected))
        << "given " << std::string(row.given, row.given + std::wstring(row.given).size());
  }
}

}  // namespace
