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

// The station window (norvale-station.exe) and its phone's log lines.
#define IDD_STATION 2
#define IDD_STATION_LOG 3

#define IDC_ST_CHAIN_GROUP 2000
#define IDC_ST_BACKUP 2001
#define IDC_ST_RESTORE 2002
#define IDC_ST_START_PHONE 2003
#define IDC_ST_BLANK 2004
#define IDC_ST_WRITE_BOOT 2005
#define IDC_ST_WRITE_PDS 2006
#define IDC_ST_WRITE_PANIC 2007
#define IDC_ST_WRITE_BLOCKS 2008
#define IDC_ST_FROM_LABEL 2009
#define IDC_ST_FROM 2010
#define IDC_ST_TO_LABEL 2011
#define IDC_ST_TO 2012
#define IDC_ST_VERIFY 2013
#define IDC_ST_CHANGED_ONLY 2014
#define IDC_ST_STEPS 2015
#define IDC_ST_REMOVE_STEP 2016
#define IDC_ST_CLEAR_STEPS 2017
#define IDC_ST_FOLDER_LABEL 2018
#define IDC_ST_FOLDER 2019
#define IDC_ST_CHOOSE_FOLDER 2020
#define IDC_ST_JOURNAL_LABEL 2021
#define IDC_ST_JOURNAL 2022
#define IDC_ST_CHOOSE_JOURNAL 2023
#define IDC_ST_PLACES_GROUP 2024
#define IDC_ST_ALL_PLACES 2025
#define IDC_ST_TICKED_PLACES 2026
#define IDC_ST_PLACES 2027
#define IDC_ST_COMMAND_LABEL 2028
#define IDC_ST_COMMAND_LINE 2029
#define IDC_ST_START 2030
#define IDC_ST_STOP 2031
#define IDC_ST_PHONES 2032
#define IDC_ST_STATUS 2033
#define IDC_ST_CLONE_PDS 2034
#define IDC_ST_CLONE_PDS_WARNING 2035
#define IDC_ST_JOURNAL_ALARM 2036
#define IDC_ST_LOG 2040

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
