// Resource and control ids, shared by norvale.rc and the code that drives the dialog.
#pragma once

// Plain #defines: the resource compiler reads this file too.

#define IDD_MAIN 1
#define IDI_NORVALE 1

#define IDC_LOG 1000
#define IDC_CLEAR_LOG 1003
#define IDC_END_ADDRESS 1004
#define IDC_START_ADDRESS 1007
#define IDC_STATUS_BAR 1018
#define IDC_WRITE_PDS 1037
#define IDC_WRITE_BOOT 1038
#define IDC_WRITE_PANIC 1039
#define IDC_WRITE_BLOCK_RANGE 1041
#define IDC_BLANK_MODE 1042
#define IDC_READ_RANGE 1043
#define IDC_START_PHONE 1044

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
