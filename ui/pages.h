// Window procedures of the dialog's pages and of the limiter dialog.
#pragma once

#include <windows.h>

INT_PTR CALLBACK enhancer_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK multiband_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK misc_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK about_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK limiter_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
