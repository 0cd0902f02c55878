// Resource identifiers of the agent.
#pragma once

#define IDS_APP_TITLE 103
#define IDD_ABOUTBOX 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDI_LUMIVANE 107
#define IDI_SMALL 108
#define IDC_LUMIVANE 109
#define IDR_ACCELERATORS 109
#define IDR_MENU 109
#define IDC_STATIC -1
