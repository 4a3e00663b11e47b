// Helpers for the dialog tests: finding this process's dialogs, reading and
// pressing their controls from a driver thread, screenshots, test JPEGs made
// with GDI+, RAW-like files around them, and file helpers.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shlobj.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace driver {

inline void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A visible top-level dialog of this process with the given caption.
inline HWND FindOwnDialog(const std::wstring& caption) {
  struct Search {
    const std::wstring* caption;
    HWND found;
  } search{&caption, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
        wchar_t cls[64] = {}, text[256] = {};
        GetClassNameW(w, cls, 64);
        GetWindowTextW(w, text, 256);
        if (std::wstring(cls) == L"#32770" && *s->caption == text) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline HWND WaitForDialog(const std::wstring& caption, int timeoutMs = 20000) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    if (HWND w = FindOwnDialog(caption)) return w;
    Sleep(50);
  }
  return nullptr;
}

inline bool WaitGone(HWND w, int timeoutMs = 20000) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (!IsWindow(w)) return true;
    Sleep(20);
  }
  return false;
}

inline std::wstring Text(HWND w) {
  wchar_t buffer[1024] = {};
  SendMessageW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}
inline std::wstring ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
inline void SetItemText(HWND dialog, int id, const std::wstring& text) {
  SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
inline bool Checked(HWND dialog, int id) {
  return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
inline bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
inline void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
// A key press as the dialog's own message loop sees it.
inline void Key(HWND target, UINT vk) {
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

// Copies what the screen shows of the window into a 24-bit BMP file.
inline bool Screenshot(HWND w, const std::wstring& path) {
  RECT r;
  if (!GetWindowRect(w, &r)) return false;
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD rowBytes = ((width * 3 + 3) / 4) * 4, imageBytes = rowBytes * height;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageBytes;
  bool ok = false;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    DWORD done;
    ok = WriteFile(h, &file, sizeof file, &done, nullptr) &&
         WriteFile(h, &info.bmiHeader, sizeof(BITMAPINFOHEADER), &done, nullptr) &&
         WriteFile(h, bits, imageBytes, &done, nullptr);
    CloseHandle(h);
  }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

// ---------------------------------------------------------------------------
// Files

inline std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
  std::vector<std::uint8_t> out;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return out;
  LARGE_INTEGER size;
  if (GetFileSizeEx(h, &size)) {
    out.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!out.empty() && (!ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) || got != out.size()))
      out.clear();
  }
  CloseHandle(h);
  return out;
}

inline bool WriteFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  bool ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);
  return ok && done == bytes.size();
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Names of the plain files directly in a folder.
inline std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return names;
}

inline void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(folder + L"\\" + name);
      else
        DeleteFileW((folder + L"\\" + name).c_str());
    } while (FindNextFileW(h, &data));
    FindClose(h);
  }
  RemoveDirectoryW(folder.c_str());
}

inline std::wstring FreshFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"vltr_" + name + L"_" + std::to_wstring(GetCurrentProcessId());
  RemoveTree(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

inline std::wstring SettingsFile() {
  wchar_t appData[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, appData);
  return std::wstring(appData) + L"\\Kerbelin\\VLTR\\VLTR.cfg";
}

// Settings file bytes: magic, one section 0 with the five integer keys.
inline std::vector<std::uint8_t> SettingsBytes(std::int32_t smaller, std::int32_t width, std::int32_t height,
                                               std::int32_t suffix, std::int32_t folders) {
  std::vector<std::uint8_t> b;
  auto u32 = [&b](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  u32(0x766C7472);
  u32(1);
  u32(0);
  u32(5);
  const std::int32_t values[5] = {smaller, width, height, suffix, folders};
  for (std::uint32_t key = 0; key < 5; ++key) {
    u32(key);
    u32(0);
    u32(static_cast<std::uint32_t>(values[key]));
  }
  return b;
}

// ---------------------------------------------------------------------------
// Images (the caller keeps GDI+ started)

inline bool FindJpegEncoder(CLSID& clsid) {
  UINT count = 0, size = 0;
  Gdiplus::DllExports::GdipGetImageEncodersSize(&count, &size);
  std::vector<std::uint8_t> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (size == 0 || Gdiplus::DllExports::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i)
    if (std::wstring(codecs[i].MimeType) == L"image/jpeg") {
      clsid = codecs[i].Clsid;
      return true;
    }
  return false;
}

// Writes a width x height JPEG with a colour pattern; seed varies it.
inline bool MakeJpegFile(const std::wstring& path, int width, int height, int seed = 0) {
  const int stride = width * 3 + ((4 - width * 3 % 4) % 4);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &pixels[static_cast<std::size_t>(y) * stride + x * 3];
      p[0] = static_cast<std::uint8_t>(x * 255 / width);
      p[1] = static_cast<std::uint8_t>(y * 255 / height);
      p[2] = static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) * 200 + seed);
    }
  Gdiplus::GpBitmap* bitmap = nullptr;
  if (Gdiplus::DllExports::GdipCreateBitmapFromScan0(width, height, stride, PixelFormat24bppRGB, pixels.data(),
                                                     &bitmap) != Gdiplus::Ok)
    return false;
  CLSID jpeg;
  bool ok = FindJpegEncoder(jpeg) &&
            Gdiplus::DllExports::GdipSaveImageToFile(bitmap, path.c_str(), &jpeg, nullptr) == Gdiplus::Ok;
  Gdiplus::DllExports::GdipDisposeImage(bitmap);
  return ok;
}

// Size of an image file as GDI+ reads it; 0 x 0 when it cannot.
inline void ImageSize(const std::wstring& path, int& width, int& height) {
  width = height = 0;
  Gdiplus::GpImage* image = nullptr;
  if (Gdiplus::DllExports::GdipLoadImageFromFile(path.c_str(), &image) != Gdiplus::Ok) return;
  UINT w = 0, h = 0;
  Gdiplus::DllExports::GdipGetImageWidth(image, &w);
  Gdiplus::DllExports::GdipGetImageHeight(image, &h);
  Gdiplus::DllExports::GdipDisposeImage(image);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
}

// A RAW-like camera file: a CR2-style TIFF whose IFD0 carries the JPEG as
// its strip (compression 6, three samples) and whose IFD1 describes a
// 14-bit sensor strip of filler bytes.
inline std::vector<std::uint8_t> RawAround(const std::vector<std::uint8_t>& jpeg, std::uint8_t seed) {
  std::vector<std::uint8_t> b;
  auto u16 = [&b](std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    u16(tag);
    u16(type);
    u32(count);
    if (type == 3 && count == 1) {
      u16(value);
      u16(0);
    } else {
      u32(value);
    }
  };
  const std::string make = "Canon", model = "Canon EOS Test";
  const std::uint32_t jlen = static_cast<std::uint32_t>(jpeg.size()), filler = 4096;
  const std::uint32_t ifd0 = 16, ifd1 = ifd0 + 2 + 6 * 12 + 4, texts = ifd1 + 2 + 8 * 12 + 4;
  const std::uint32_t makeAt = texts, modelAt = makeAt + static_cast<std::uint32_t>((make.size() + 2) & ~1u);
  const std::uint32_t jpegAt = modelAt + static_cast<std::uint32_t>((model.size() + 2) & ~1u);
  const std::uint32_t fillerAt = jpegAt + ((jlen + 1) & ~1u);
  b.insert(b.end(), {'I', 'I'});
  u16(42);
  u32(16);
  b.insert(b.end(), {'C', 'R', 2, 0});
  u32(0);
  u16(6);
  entry(259, 3, 1, 6);
  entry(271, 2, static_cast<std::uint32_t>(make.size() + 1), makeAt);
  entry(272, 2, static_cast<std::uint32_t>(model.size() + 1), modelAt);
  entry(273, 4, 1, jpegAt);
  entry(277, 3, 1, 3);
  entry(279, 4, 1, jlen);
  u32(ifd1);
  u16(8);
  entry(256, 4, 1, 4000);
  entry(257, 4, 1, 3000);
  entry(258, 3, 1, 14);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 32803);
  entry(273, 4, 1, fillerAt);
  entry(277, 3, 1, 1);
  entry(279, 4, 1, filler);
  u32(0);
  for (const std::string* s : {&make, &model}) {
    b.insert(b.end(), s->begin(), s->end());
    b.push_back(0);
    if (b.size() & 1) b.push_back(0);
  }
  b.insert(b.end(), jpeg.begin(), jpeg.end());
  if (b.size() & 1) b.push_back(0);
  std::uint32_t x = 0x9E3779B9u ^ seed;
  for (std::uint32_t i = 0; i < filler; ++i) {
    x = x * 1664525u + 1013904223u;
    b.push_back(static_cast<std::uint8_t>(x >> 24));
  }
  return b;
}

// Keeps GDI+ started for the test program's own image work.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  ~GdiplusSession() { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace driver
