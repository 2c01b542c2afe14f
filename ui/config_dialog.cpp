// Configuration dialog shell. Stub until the dialog work lands.
#include "ui/config_dialog.h"

void run_config_dialog(HWND) {}
void page_setup(HWND) {}
void blit_window(HWND, const RECT*, HDC) {}
