// Stub until the dialog work lands.
#include "ui/pages.h"

INT_PTR CALLBACK multiband_page_proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
