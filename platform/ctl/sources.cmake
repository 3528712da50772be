# The control framework's sources, one list for both builds of PINBUS.OCX: the native library
# (CMakeLists.txt here) and the Wine module (platform/wine). Each build adds what is its own: the
# module's file name (module_file_name.cpp here, platform/wine's under Wine) and its UI (Qt or
# headless here; under Wine the platform's windows, CTL_WIN32_UI_SOURCES).
set(CTL_SOURCES
  cmdtarget.cpp
  connpoint.cpp
  control_ui.cpp
  ctlinfo.cpp
  dialogs.cpp
  dispatch.cpp
  factory.cpp
  inplace.cpp
  module.cpp
  olecontrol.cpp
  persist.cpp
  oleobject.cpp
  picture.cpp
  propbag.cpp
  propertypage.cpp
  propexchange.cpp
  registration.cpp
  viewobject.cpp)
list(TRANSFORM CTL_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
set(CTL_HEADLESS_UI_SOURCES ${CMAKE_CURRENT_LIST_DIR}/control_ui_headless.cpp)
set(CTL_WIN32_UI_SOURCES ${CMAKE_CURRENT_LIST_DIR}/control_ui_win32.cpp)
