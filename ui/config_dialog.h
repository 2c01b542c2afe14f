// The modal configuration dialog (Windows only).
#pragma once

#include <windows.h>

// Runs the modal dialog of template 100 owned by parent; returns when closed.
void run_config_dialog(HWND parent);

// Shared page helpers.
void page_setup(HWND page);
void blit_window(HWND target, const RECT* rect, HDC source);
