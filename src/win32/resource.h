// Resource and control identifiers of KestrowDiag.exe. The numbers of the
// main dialog, the about box, the file list and the physical dump's dialogs
// are the program's own since its first version; our additions take 1020 on.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_KESTROWDIAG_DIALOG 102
#define IDD_FILELIST 133
#define IDD_STATUS 140
#define IDD_SELECTSECTOR 141
#define IDD_DAMAGEREPORT 150

// Icon, logo bitmap, string.
#define IDR_MAINFRAME 128
#define IDB_LOGO 137
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010

// Main dialog.
#define IDC_COMBO_DRIVE 1000
#define IDC_GET_VOLUME_SIZE 1006
#define IDC_CHECK_FORMAT 1007
#define IDC_BROWSE_FILE_LIST 1008
#define IDC_PHYSICAL_DUMP 1009
#define IDC_LOGO 1010
#define IDC_OPEN_IMAGE 1020

// About box.
#define IDC_ABOUT_TEXT 1011

// File list.
#define IDC_FILE_LIST 1001
#define IDC_RECOVER_SELECTED 1003
#define IDC_FILE_COUNT 1004
#define IDC_JOB_STATUS 1005
#define IDC_SAVE_LIST 1006
#define IDC_MAC_ROMAN 1021
#define IDC_RESOURCE_FORKS 1022
#define IDC_KEEP_GOING 1023
#define IDC_FIND_DAMAGE 1024
#define IDC_JOB_PROGRESS 1025
#define IDC_SAVE_VOLUME_IMAGE 1027

// Physical dump.
#define IDC_PROGRESS_TEXT 1012
#define IDC_START_SECTOR 1014
#define IDC_END_SECTOR 1015
#define IDC_DUMP_PROGRESS 1026
#define IDC_SECTOR_LBAS 1033
#define IDC_RESCUE_IMAGE 1034
#define IDC_RESCUE_STATUS 1035

// Damage report.
#define IDC_DAMAGE_SUMMARY 1030
#define IDC_DAMAGE_LIST 1031
#define IDC_SAVE_REPORT 1032
