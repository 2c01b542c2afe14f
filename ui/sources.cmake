# Sources of the configuration dialog, compiled into the Windows library only.
set(REDOZER_UI_SOURCES
  ui/config_dialog.cpp
  ui/enhancer_page.cpp
  ui/misc_about_pages.cpp
  ui/multiband_page.cpp
  ui/limiter_dialog.cpp
)
