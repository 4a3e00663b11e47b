// A very small test framework for the Windows test programs, which run
// under Wine without GoogleTest. Each TEST_CASE registers a function; CHECK
// records a failure with file and line and carries on; REQUIRE stops the
// current case. main() runs every case (or those named on the command line
// after the fixed arguments) and returns non-zero when any check failed.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace wintest {

struct Case {
  const char* name;
  void (*body)();
};

inline std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

inline int& Failures() {
  static int failures = 0;
  return failures;
}

struct Registrar {
  Registrar(const char* name, void (*body)()) { Cases().push_back({name, body}); }
};

struct RequireFailed {};

inline void Fail(const char* file, int line, const std::string& message) {
  ++Failures();
  std::fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, message.c_str());
  std::fflush(stderr);
}

inline std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

inline std::string Show(const std::string& v) { return "\"" + v + "\""; }
inline std::string Show(const char* v) { return v ? Show(std::string(v)) : "(null)"; }
inline std::string Show(const std::wstring& v) { return "L\"" + Narrow(v) + "\""; }
inline std::string Show(const wchar_t* v) { return v ? Show(std::wstring(v)) : "(null)"; }
inline std::string Show(bool v) { return v ? "true" : "false"; }
template <class T>
std::string Show(const T& v) {
  if constexpr (std::is_enum_v<T>) {
    return std::to_string(static_cast<long long>(v));
  } else if constexpr (std::is_pointer_v<T>) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%p", static_cast<const void*>(v));
    return buffer;
  } else if constexpr (std::is_same_v<T, long> || std::is_same_v<T, unsigned long>) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%ld (0x%08lX)", static_cast<long>(v), static_cast<unsigned long>(v));
    return buffer;
  } else {
    return std::to_string(v);
  }
}

// Fixed arguments handed to every test program by CTest (see
// tests/windows/CMakeLists.txt): argv[1] the DLL, argv[2] an artifacts folder.
inline std::wstring& DllPath() {
  static std::wstring path;
  return path;
}
inline std::wstring& ArtifactsFolder() {
  static std::wstring path;
  return path;
}

inline int RunAll(int argc, wchar_t** argv) {
  if (argc > 1) DllPath() = argv[1];
  if (argc > 2) ArtifactsFolder() = argv[2];
  std::vector<std::string> only;
  for (int i = 3; i < argc; ++i) only.push_back(Narrow(argv[i]));
  int ran = 0;
  for (const Case& c : Cases()) {
    if (!only.empty()) {
      bool wanted = false;
      for (const auto& name : only) wanted = wanted || name == c.name;
      if (!wanted) continue;
    }
    const int before = Failures();
    std::printf("[ RUN  ] %s\n", c.name);
    std::fflush(stdout);
    try {
      c.body();
    } catch (const RequireFailed&) {
    } catch (const std::exception& e) {
      Fail(__FILE__, __LINE__, std::string("exception: ") + e.what());
    } catch (...) {
      Fail(__FILE__, __LINE__, "unknown exception");
    }
    std::printf("[ %s ] %s\n", Failures() == before ? " OK " : "FAIL", c.name);
    std::fflush(stdout);
    ++ran;
  }
  if (ran == 0) {
    std::fprintf(stderr, "no test case ran\n");
    return 2;
  }
  std::printf("%d case(s), %d failed check(s)\n", ran, Failures());
  return Failures() == 0 ? 0 : 1;
}

#define WINTEST_CAT2(a, b) a##b
#define WINTEST_CAT(a, b) WINTEST_CAT2(a, b)

#define TEST_CASE(name)                                                                  \
  static void WINTEST_CAT(wintest_case_, __LINE__)();                                    \
  static ::wintest::Registrar WINTEST_CAT(wintest_reg_, __LINE__)(name, &WINTEST_CAT(wintest_case_, __LINE__)); \
  static void WINTEST_CAT(wintest_case_, __LINE__)()

#define CHECK(cond)                                                    \
  do {                                                                 \
    if (!(cond)) ::wintest::Fail(__FILE__, __LINE__, "CHECK(" #cond ")"); \
  } while (0)

#define REQUIRE(cond)                                                      \
  do {                                                                     \
    if (!(cond)) {                                                         \
      ::wintest::Fail(__FILE__, __LINE__, "REQUIRE(" #cond ")");           \
      throw ::wintest::RequireFailed{};                                    \
    }                                                                      \
  } while (0)

#define CHECK_EQ(a, b)                                                                            \
  do {                                                                                            \
    const auto& wintest_a = (a);                                                                  \
    const auto& wintest_b = (b);                                                                  \
    if (!(wintest_a == wintest_b))                                                                \
      ::wintest::Fail(__FILE__, __LINE__,                                                         \
                      "CHECK_EQ(" #a ", " #b "): " + ::wintest::Show(wintest_a) + " vs " +        \
                          ::wintest::Show(wintest_b));                                            \
  } while (0)

#define REQUIRE_EQ(a, b)                                                                          \
  do {                                                                                            \
    const auto& wintest_a = (a);                                                                  \
    const auto& wintest_b = (b);                                                                  \
    if (!(wintest_a == wintest_b)) {                                                              \
      ::wintest::Fail(__FILE__, __LINE__,                                                         \
                      "REQUIRE_EQ(" #a ", " #b "): " + ::wintest::Show(wintest_a) + " vs " +      \
                          ::wintest::Show(wintest_b));                                            \
      throw ::wintest::RequireFailed{};                                                           \
    }                                                                                             \
  } while (0)

// The DLL under test (DllPath), loaded once for the whole run and kept, with
// its two COM exports.
struct DllExports {
  HMODULE module = nullptr;
  HRESULT(__stdcall* canUnloadNow)() = nullptr;
  HRESULT(__stdcall* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
};

inline const DllExports& TheDll() {
  static DllExports dll = [] {
    DllExports d;
    d.module = LoadLibraryW(DllPath().c_str());
    if (d.module) {
      d.canUnloadNow = reinterpret_cast<decltype(d.canUnloadNow)>(
          reinterpret_cast<void*>(GetProcAddress(d.module, "DllCanUnloadNow")));
      d.getClassObject = reinterpret_cast<decltype(d.getClassObject)>(
          reinterpret_cast<void*>(GetProcAddress(d.module, "DllGetClassObject")));
    }
    return d;
  }();
  REQUIRE(dll.module != nullptr);
  REQUIRE(dll.canUnloadNow != nullptr);
  REQUIRE(dll.getClassObject != nullptr);
  return dll;
}

// Runs every case with the program's wide command line.
inline int Main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const int result = RunAll(argv ? argc : 0, argv);
  if (argv) LocalFree(argv);
  return result;
}

}  // namespace wintest

// Defines main for a test program.
#define WINTEST_MAIN \
  int main() { return ::wintest::Main(); }
