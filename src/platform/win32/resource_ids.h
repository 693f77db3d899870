// Resource ids shared by res/vxflash.rc and the Win32 layer.
#pragma once

#define IDD_MAIN_PAGE 102
#define IDD_SETUP_PAGE 103
#define IDD_ABOUT_PAGE 104

#define IDI_SHEET 103

#define IDC_PAGE_NOTICE 1100
