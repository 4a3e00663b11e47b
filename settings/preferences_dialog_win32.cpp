// Preferences dialog: fills its controls from the settings record, keeps the
// size boxes enabled only for "native and smaller sizes", and stores the
// controls' values on Save and Extract.
#include "settings/preferences_dialog.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <string>

#include "resources/resource.h"
#include "settings/settings_store.h"

namespace {

// Up-down arrows step by 50 at once, between 100 and 1000.
constexpr UINT kSpinStep = 50;
constexpr int kSpinLow = 100;
constexpr int kSpinHigh = 1000;

std::wstring GetWindowString(HWND window) {
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

bool IsChecked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Check(HWND button, bool checked) {
  SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void SetUpSpin(HWND spin) {
  UDACCEL accel = {0, kSpinStep};
  SendMessageW(spin, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
  SendMessageW(spin, UDM_SETRANGE32, kSpinLow, kSpinHigh);
}

}  // namespace

void SetWindowInt(HWND window, std::int32_t value, bool blankWhenZero) {
  if (blankWhenZero && value == 0) {
    SetWindowTextW(window, L"");
    return;
  }
  SetWindowTextW(window, std::to_wstring(value).c_str());
}

std::int32_t GetWindowInt(HWND window) {
  const std::wstring text = GetWindowString(window);
  // Leading blanks and a plus sign are taken care of here as well: not
  // every StrToIntW accepts them.
  std::size_t start = text.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return 0;
  if (text[start] == L'+' && start + 1 < text.size() && text[start + 1] >= L'0' && text[start + 1] <= L'9') ++start;
  return StrToIntW(text.c_str() + start);
}

PreferencesDialog::PreferencesDialog() : extractRequested(false) {}

void PreferencesDialog::EnableSizeBoxes(bool enable) {
  EnableWindow(maxWidthEdit_, enable ? TRUE : FALSE);
  EnableWindow(maxHeightEdit_, enable ? TRUE : FALSE);
}

void PreferencesDialog::OnInitDialog() {
  nativeOnly_ = GetDlgItem(window, IDC_NATIVE_ONLY);
  nativeAndSmaller_ = GetDlgItem(window, IDC_NATIVE_AND_SMALLER);
  maxWidthEdit_ = GetDlgItem(window, IDC_MAX_WIDTH);
  maxWidthSpin_ = GetDlgItem(window, IDC_MAX_WIDTH_SPIN);
  maxHeightEdit_ = GetDlgItem(window, IDC_MAX_HEIGHT);
  maxHeightSpin_ = GetDlgItem(window, IDC_MAX_HEIGHT_SPIN);
  addSuffix_ = GetDlgItem(window, IDC_ADD_SUFFIX);
  withRaws_ = GetDlgItem(window, IDC_WITH_RAWS);
  inFolders_ = GetDlgItem(window, IDC_IN_FOLDERS);

  SetUpSpin(maxWidthSpin_);
  SetUpSpin(maxHeightSpin_);

  LoadFromStore();

  Check(makeSmallerCopies != 0 ? nativeAndSmaller_ : nativeOnly_, true);
  if (makeSmallerCopies == 0) EnableSizeBoxes(false);  // the arrows stay enabled

  SetWindowInt(maxWidthEdit_, maxWidth, true);
  SetWindowInt(maxHeightEdit_, maxHeight, true);
  Check(addSuffix_, addSuffix);
  Check(useSubfolders ? inFolders_ : withRaws_, true);
}

void PreferencesDialog::OnCommand(int id, int code) {
  if (code != 0) return;
  switch (id) {
    case IDC_EXTRACT:
      extractRequested = true;
      try {
        OnCommand(IDOK, 0);  // stored exactly as by Save
      } catch (...) {
        // Storing failed (out of memory) and the dialog stays open: the
        // choice is taken back, so a later Cancel extracts nothing.
        extractRequested = false;
        throw;
      }
      return;
    case IDC_NATIVE_ONLY:
      EnableSizeBoxes(false);
      return;
    case IDC_NATIVE_AND_SMALLER:
      EnableSizeBoxes(true);
      return;
    default:
      Dialog::OnCommand(id, code);
  }
}

void PreferencesDialog::OnOK() {
  makeSmallerCopies = IsChecked(nativeAndSmaller_) ? 1 : 0;
  // Read whether enabled or not; no range is enforced on typed values.
  maxWidth = GetWindowInt(maxWidthEdit_);
  maxHeight = GetWindowInt(maxHeightEdit_);
  addSuffix = IsChecked(addSuffix_);
  useSubfolders = IsChecked(inFolders_);
  SaveToStore();
}
