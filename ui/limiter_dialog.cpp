// Stub until the dialog work lands.
#include "ui/pages.h"

INT_PTR CALLBACK limiter_dialog_proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
