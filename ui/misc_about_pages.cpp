// Stub until the dialog work lands.
#include "ui/pages.h"

INT_PTR CALLBACK misc_page_proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
INT_PTR CALLBACK about_page_proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
