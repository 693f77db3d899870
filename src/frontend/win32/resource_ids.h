// Resource and control ids shared by res/vxflash.rc and the Win32 layer.
#pragma once

#define IDD_MAIN_PAGE 102
#define IDD_SETUP_PAGE 103
#define IDD_ABOUT_PAGE 104

#define IDI_SHEET 103
#define IDI_COMPUTER 104
#define IDI_PRINTER 105
#define IDB_ABOUT 117

// Main page (dialog 102).
#define IDC_TOOLBAR 100
#define IDC_BANK_BAR 1002
#define IDC_PRINTER_REPLY 1004
#define IDC_BANK_LABEL 1006
#define IDC_PC_STATUS 1007
#define IDC_PRINTER_STATUS 1008
#define IDC_PAGES_BAR 1009
#define IDC_FIRST_PAGE 1010
#define IDC_LAST_PAGE 1011
#define IDC_CONNECTION 1012
#define IDC_CHK_FIRMWARE 1013
#define IDC_CHK_CG 1014
#define IDC_CHK_BOOT 1015
#define IDC_CHK_FPGA 1016
#define IDC_CHK_KEEP 1018
#define IDC_TRANSFER 1019
#define IDC_PRINTER_GROUP 1023
#define IDC_MODEL_LABEL 1026

// About page (dialog 104).
#define IDC_VERSION_TEXT 1017

// Setup page (dialog 103) until it has its controls.
#define IDC_PAGE_NOTICE 1100
