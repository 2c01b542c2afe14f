// Stub until the dialog work lands.
#include "ui/pages.h"

INT_PTR CALLBACK enhancer_page_proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
