// Control ids of the port setup page (dialog 103), shared by res/vxflash.rc and its dialog
// procedure.
#pragma once

#define IDC_SETUP_COM_LIST 1001
#define IDC_SETUP_DATA_BITS 1002
#define IDC_SETUP_PARITY 1003
#define IDC_SETUP_STOP_BITS 1004
#define IDC_SETUP_BAUD 1005
#define IDC_SETUP_USB_LIST 1006
#define IDC_SETUP_COM 1022
#define IDC_SETUP_USB 1023
#define IDC_SETUP_LPT 1024
#define IDC_SETUP_LPT_LIST 1025
