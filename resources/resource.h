// Resource ids of the control module.
#pragma once

#define IDR_PL5_APPID 101    // registry script: application id
#define IDB_PL5CTRL 102      // toolbox bitmap, 16 x 16
#define IDR_PL5CTRL 103      // registry script: class and program ids
#define IDR_ACCELERATOR 201  // Ctrl+A
#define IDR_LANG_KO 202      // Korean language pack image (type "RSRC")
#define IDR_LANG_EN 203      // English language pack image (type "RSRC")
#define IDB_BACKGROUND_KO 205
#define IDB_BACKGROUND_EN 207

#define ID_SELECT_ALL 32768
