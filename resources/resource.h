// Resource ids of the module: dialog templates, their controls, the banner
// bitmap, the icon, the registry script and the product-name string.
#pragma once

#define IDD_PREFERENCES 1
#define IDD_PROGRESS 2

#define IDS_PROJNAME 100
#define IDR_REGISTRY 101
// The module's icon (resources/veltrano.ico, drawn by make_icon.py).
#define IDI_VELTRANO 102
#define IDB_BANNER 203

// Preferences dialog (template 1). Save and Cancel use IDOK (1) and
// IDCANCEL (2).
#define IDC_EXTRACT 3
#define IDC_NATIVE_ONLY 4
#define IDC_NATIVE_AND_SMALLER 5
#define IDC_MAX_WIDTH 6
#define IDC_MAX_WIDTH_SPIN 7
#define IDC_MAX_HEIGHT 8
#define IDC_MAX_HEIGHT_SPIN 9
#define IDC_ADD_SUFFIX 10
#define IDC_WITH_RAWS 11
#define IDC_IN_FOLDERS 12

// Progress dialog (template 2). Its button is IDCANCEL (2).
#define IDC_STATUS_TEXT 3

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
