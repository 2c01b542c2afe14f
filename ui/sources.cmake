# Sources of the configuration dialog, compiled into the Windows library only.
set(REDOZER_UI_SOURCES
  ui/config_dialog.cpp
)
