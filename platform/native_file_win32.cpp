#include <windows.h>

#include "platform/long_path.h"
#include "platform/native_file.h"

namespace {

class Win32File final : public NativeFile {
 public:
  Win32File(HANDLE h, std::int64_t size) : h_(h), size_(size) {}
  ~Win32File() override { CloseHandle(h_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  std::int64_t size() const override { return size_; }

  std::size_t read_at(std::int64_t offset, void* dst, std::size_t n) override {
    if (offset < 0 || offset >= size_) return 0;
    std::size_t done = 0;
    auto* out = static_cast<unsigned char*>(dst);
    while (done < n) {
      OVERLAPPED ov = {};
      std::uint64_t at = static_cast<std::uint64_t>(offset) + done;
      ov.Offset = static_cast<DWORD>(at);
      ov.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD chunk = static_cast<DWORD>((n - done) > 0x40000000 ? 0x40000000 : (n - done));
      DWORD got = 0;
      if (!ReadFile(h_, out + done, chunk, &got, &ov) || got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  HANDLE h_;
  std::int64_t size_;
};

}  // namespace

std::unique_ptr<NativeFile> NativeFile::open_for_reading(const NativePath& path, std::error_code* why) {
  const std::wstring file = Win32FilePath(path);
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (why) why->clear();
    return nullptr;
  }
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (why) *why = std::error_code(static_cast<int>(GetLastError()), std::system_category());
    return nullptr;
  }
  // Only files on disk: a pipe or a device named as a path is refused.
  LARGE_INTEGER size;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
    if (why) why->clear();
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<Win32File>(h, static_cast<std::int64_t>(size.QuadPart));
}

bool NativePathExists(const NativePath& path) {
  return GetFileAttributesW(Win32FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
