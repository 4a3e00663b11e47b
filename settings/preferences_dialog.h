// The preferences dialog (template 1): shows the settings record, lets the
// user change it, and closes with Extract, Save or Cancel. Also serves the
// progress dialog as a plain, never-shown holder of the job's settings.
#pragma once

#include <cstdint>

#include "settings/settings_record.h"
#include "ui/dialog.h"

// Sets the window's text to value in decimal (with a minus sign when
// negative); an empty text when blankWhenZero is set and value is 0.
void SetWindowInt(HWND window, std::int32_t value, bool blankWhenZero);
// The window's whole text converted with StrToIntW: optional leading white
// space, an optional sign, the digits up to the first other character; 0
// when there are none.
std::int32_t GetWindowInt(HWND window);

class PreferencesDialog : public Dialog, public SettingsRecord {
 public:
  PreferencesDialog();

  // Set when the dialog was closed with Extract; never stored.
  bool extractRequested = false;

  void OnInitDialog() override;
  void OnCommand(int id, int code) override;
  void OnOK() override;

 private:
  // The controls with ids 4 to 12, looked up when the dialog initialises.
  HWND nativeOnly_ = nullptr;
  HWND nativeAndSmaller_ = nullptr;
  HWND maxWidthEdit_ = nullptr;
  HWND maxWidthSpin_ = nullptr;
  HWND maxHeightEdit_ = nullptr;
  HWND maxHeightSpin_ = nullptr;
  HWND addSuffix_ = nullptr;
  HWND withRaws_ = nullptr;
  HWND inFolders_ = nullptr;

  void EnableSizeBoxes(bool enable);
};
