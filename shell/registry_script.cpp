#include "shell/registry_script.h"

#include <cstddef>

namespace veltrano::shell {
namespace {

// Deepest key nesting the parser follows; the script has five levels.
constexpr int kMaxKeyDepth = 32;

struct Token {
  std::wstring text;
  bool quoted = false;
};

class Parser {
 public:
  Parser(const std::wstring& script, const std::wstring& module) : script_(script), module_(module) {}

  bool Script(std::vector<ScriptRoot>& out) {
    Token t;
    while (Next(t)) {
      if (t.quoted || (t.text != L"HKCR" && t.text != L"HKLM" && t.text != L"HKCU")) return false;
      ScriptRoot root;
      root.root = t.text;
      if (!Expect(L"{")) return false;
      if (!Keys(root.keys, nullptr, 0)) return false;
      out.push_back(std::move(root));
    }
    return ok_;
  }

 private:
  // Keys (and, inside a key, values) up to the closing brace.
  bool Keys(std::vector<ScriptKey>& keys, ScriptKey* owner, int depth) {
    if (depth > kMaxKeyDepth) return false;
    Token t;
    for (;;) {
      if (!Next(t)) return false;
      if (!t.quoted && t.text == L"}") return true;
      if (!t.quoted && t.text == L"val") {
        if (owner == nullptr) return false;  // a value belongs to a key
        ScriptValue value;
        if (!Next(t) || !Assignment(value.text)) return false;
        value.name = t.text;
        owner->values.push_back(std::move(value));
        continue;
      }
      ScriptKey key;
      if (!t.quoted && t.text == L"NoRemove") key.removal = ScriptKey::Removal::kNoRemove;
      if (!t.quoted && t.text == L"ForceRemove") key.removal = ScriptKey::Removal::kForceRemove;
      if (key.removal != ScriptKey::Removal::kRemove && !Next(t)) return false;
      if (!t.quoted && (t.text == L"{" || t.text == L"}" || t.text == L"=")) return false;
      key.name = t.text;
      if (Peek(L"=")) {
        ScriptValue value;
        if (!Assignment(value.text)) return false;
        key.values.push_back(std::move(value));
      }
      if (Peek(L"{")) {
        Expect(L"{");
        if (!Keys(key.children, &key, depth + 1)) return false;
      }
      keys.push_back(std::move(key));
    }
  }

  // "= s 'text'"
  bool Assignment(std::wstring& text) {
    Token t;
    if (!Expect(L"=") || !Next(t) || t.quoted || t.text != L"s" || !Next(t) || !t.quoted) return false;
    text = std::move(t.text);
    return true;
  }

  bool Expect(const wchar_t* bare) {
    Token t;
    return Next(t) && !t.quoted && t.text == bare;
  }

  // True when the next token is the bare word given; nothing is taken.
  bool Peek(const wchar_t* bare) {
    const std::size_t at = at_;
    Token t;
    const bool match = Next(t) && !t.quoted && t.text == bare;
    at_ = at;
    return match;
  }

  bool Next(Token& t) {
    while (at_ < script_.size() && IsSpace(script_[at_])) ++at_;
    if (at_ >= script_.size()) return false;
    t = Token();
    if (script_[at_] != L'\'') {
      while (at_ < script_.size() && !IsSpace(script_[at_])) t.text += script_[at_++];
      return true;
    }
    t.quoted = true;
    for (++at_;; ++at_) {
      if (at_ >= script_.size()) return ok_ = false;  // unterminated text
      const wchar_t c = script_[at_];
      if (c == L'\'' && at_ + 1 < script_.size() && script_[at_ + 1] == L'\'') {
        t.text += L'\'';
        ++at_;
      } else if (c == L'\'') {
        ++at_;
        break;
      } else if (c == L'%') {
        const std::size_t end = script_.find(L'%', at_ + 1);
        if (end == std::wstring::npos) return ok_ = false;
        const std::wstring name = script_.substr(at_ + 1, end - at_ - 1);
        if (name.empty()) {
          t.text += L'%';
        } else if (name == L"MODULE" || name == L"MODULE_RAW") {
          t.text += module_;
        } else {
          return ok_ = false;  // a variable the registration does not know
        }
        at_ = end;
      } else {
        t.text += c;
      }
    }
    return true;
  }

  static bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

  const std::wstring& script_;
  const std::wstring& module_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

bool ParseRegistryScript(const std::wstring& script, const std::wstring& module, std::vector<ScriptRoot>& out) {
  return Parser(script, module).Script(out);
}

}  // namespace veltrano::shell
