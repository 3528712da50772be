# The sources of the COM stand-in, one list for every build that takes from them: the libraries
# com_formats and com (CMakeLists.txt here) and the Wine build of PINBUS.OCX (platform/wine),
# which compiles our own helpers over the platform's types against Wine's COM.
#
# Our helpers that both builds compile: plain C++ over the platform's types, without the
# stand-in's state. The formats' among them go into com_formats, the others into com.
set(COM_PORTABLE_FORMATS_SOURCES dialog_template.cpp guid_text.cpp resource_table.cpp)
set(COM_PORTABLE_SOURCES com_exception.cpp module_resources.cpp utf.cpp)
# The byte formats a module's resources are written in (resource table, dialog templates, version
# block, type library) and the text of GUIDs.
set(COM_FORMATS_SOURCES ${COM_PORTABLE_FORMATS_SOURCES}
  typelib_read.cpp
  typelib_validate.cpp
  typelib_write.cpp
  version_info.cpp)
# The rest of the stand-in.
set(COM_SOURCES ${COM_PORTABLE_SOURCES}
  bstr.cpp
  coapi.cpp
  errorinfo.cpp
  guid.cpp
  memstorage.cpp
  memstream.cpp
  number_text.cpp
  reg_batch.cpp
  reg_cache.cpp
  reg_change.cpp
  reg_commit.cpp
  reg_file.cpp
  reg_kept.cpp
  reg_state.cpp
  reg_status.cpp
  registry.cpp
  registry_problem.cpp
  typelib_load.cpp
  typelib_objects.cpp
  typelib_stdole.cpp
  typelib_reg.cpp
  variant_format.cpp
  variant.cpp)
set(COM_WINE_SOURCES ${COM_PORTABLE_FORMATS_SOURCES} ${COM_PORTABLE_SOURCES})
foreach(list COM_FORMATS_SOURCES COM_SOURCES COM_WINE_SOURCES)
  list(TRANSFORM ${list} PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
endforeach()
