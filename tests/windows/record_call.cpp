// Stands in for a program that the installer runs (PowerShell), in the
// installer tests' Wine prefix: appends its whole command line, as UTF-8, to
// calls.log beside itself; copies output.txt from there to its standard
// output when that file exists; exits with the number in exit_code.txt
// there (0 without it).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring Beside(const std::wstring& name) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder = self;
  return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

std::string ReadAll(const std::wstring& path, bool& found) {
  std::string text;
  found = false;
  if (FILE* f = _wfopen(path.c_str(), L"rb")) {
    found = true;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace

int main() {
  if (FILE* log = _wfopen(Beside(L"calls.log").c_str(), L"ab")) {
    const std::string line = Utf8(GetCommandLineW()) + "\n";
    std::fwrite(line.data(), 1, line.size(), log);
    std::fclose(log);
  }
  bool found = false;
  const std::string output = ReadAll(Beside(L"output.txt"), found);
  if (found) std::fwrite(output.data(), 1, output.size(), stdout);
  const std::string code = ReadAll(Beside(L"exit_code.txt"), found);
  return found ? std::atoi(code.c_str()) : 0;
}
