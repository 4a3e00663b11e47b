// Small owners for COM interface pointers and Win32 handles used by the shell
// extension. Each releases what it holds when it goes out of scope.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <utility>

namespace veltrano::shell {

// Owns one reference on a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already owns.
  explicit ComPtr(T* owned) noexcept : p_(owned) {}
  ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() noexcept {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Out-parameter slot for calls that hand out a new reference; drops the
  // current one first.
  T** Put() noexcept {
    Reset();
    return &p_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// Owns an open registry key.
class UniqueHKey {
 public:
  UniqueHKey() = default;
  explicit UniqueHKey(HKEY key) noexcept : key_(key) {}
  UniqueHKey(const UniqueHKey&) = delete;
  UniqueHKey& operator=(const UniqueHKey&) = delete;
  UniqueHKey(UniqueHKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  UniqueHKey& operator=(UniqueHKey&& other) noexcept {
    if (this != &other) {
      Reset();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  ~UniqueHKey() { Reset(); }

  void Reset() noexcept {
    if (HKEY old = std::exchange(key_, nullptr)) RegCloseKey(old);
  }
  HKEY Get() const noexcept { return key_; }
  HKEY* Put() noexcept {
    Reset();
    return &key_;
  }
  explicit operator bool() const noexcept { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

// Owns a storage medium returned by IDataObject::GetData.
class StgMediumGuard {
 public:
  StgMediumGuard() { ZeroMemory(&medium_, sizeof medium_); }
  StgMediumGuard(const StgMediumGuard&) = delete;
  StgMediumGuard& operator=(const StgMediumGuard&) = delete;
  ~StgMediumGuard() {
    if (filled_) ReleaseStgMedium(&medium_);
  }
  // Slot for GetData; call MarkFilled once GetData has succeeded.
  STGMEDIUM* Put() noexcept { return &medium_; }
  void MarkFilled() noexcept { filled_ = true; }
  STGMEDIUM& Get() noexcept { return medium_; }

 private:
  STGMEDIUM medium_;
  bool filled_ = false;
};

// Keeps a global memory block locked for the guard's lifetime.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL memory) noexcept
      : memory_(memory), pointer_(memory ? GlobalLock(memory) : nullptr) {}
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
  ~GlobalLockGuard() {
    if (pointer_) GlobalUnlock(memory_);
  }
  void* Get() const noexcept { return pointer_; }

 private:
  HGLOBAL memory_;
  void* pointer_;
};

// Holds a critical section entered for the guard's lifetime.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& section) noexcept : section_(section) {
    EnterCriticalSection(&section_);
  }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
  ~CriticalSectionLock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace veltrano::shell
