# Installation layout and the Debian package.
#
#   bin/                          lensbay, regsvr, ocxhost
#   lib/lensbay/                  PINBUS.OCX and the shared libraries of the platform layers
#   share/lensbay/bmphead1        the default bitmap header template
#   share/doc/lensbay/copyright   the licence (MIT), in Debian's machine-readable format
#   share/applications/           lensbay.desktop
#   share/icons/hicolor/NxN/apps/ lensbay.png, rendered from the icon the windows draw
#
# The targets themselves carry their install rules; this file adds what only the installed
# layout needs (run paths, the private library folder the program looks in, the version the
# tools print), the desktop files and the CPack settings.
include_guard(GLOBAL)

set(LENSBAY_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging)
set(LENSBAY_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/lensbay)

# Where the programs find PINBUS.OCX and the libraries, relative to their own folder.
file(RELATIVE_PATH lensbay_bin_to_libs ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/lensbay)

set(lensbay_programs lensbay regsvr ocxhost)
set(lensbay_private_libraries base com ctl portio sim ui_core ui pinbus)

foreach(program IN LISTS lensbay_programs)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${lensbay_bin_to_libs}")
    target_compile_definitions(${program} PRIVATE LENSBAY_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()
foreach(library IN LISTS lensbay_private_libraries)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endforeach()
if(TARGET lensbay)
  # An installed lensbay names the installed PINBUS.OCX in its "register it with" hint.
  target_compile_definitions(lensbay PRIVATE LENSBAY_PINBUS_DIR="${lensbay_bin_to_libs}")
endif()

# Desktop entry; its icon is rendered by generators/render_icon in a GUI build.
if(LENSBAY_GUI)
  install(FILES ${LENSBAY_PACKAGING_DIR}/lensbay.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# The licence, in the machine-readable form Debian reads (the text of LICENSE).
install(FILES ${LENSBAY_PACKAGING_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lensbay)

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lensbay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lensbay project")
set(CPACK_PACKAGE_CONTACT "Lensbay project <lensbay@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the SX540 camera chip on its evaluation board")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lensbay project <lensbay@example.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The first line of the package's description is the summary above; CPack indents these lines.
set(CPACK_PACKAGE_DESCRIPTION
    "Lensbay programs the registers of an SX540 CMOS camera chip on an evaluation
board wired to the PC parallel port, captures frames from the chip's video
port into image.raw and image.bmp and shows them in a monitor window. It does
every port cycle through PINBUS.OCX, an in-process port-access control reached
through the class registry (the package registers it for every user of the
machine; a user's own registration, regsvr /usr/${LENSBAY_PRIVATE_LIBDIR}/PINBUS.OCX,
takes precedence)
Without hardware it runs against a simulated board; real ports are reached
through ppdev or, as root, directly. Also contains regsvr and the control test
container ocxhost, the GStreamer source element lensbaysrc and the Python
module lensbay.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window in a Wayland session needs Qt's Wayland platform (shlibdeps cannot see a plugin).
if(LENSBAY_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland")
endif()
# The Python module is built for one version of the system's python3 and needs NumPy at run time.
if(TARGET _lensbay)
  set(python_depends "python3 (>= ${LENSBAY_PYTHON_VERSION}~), python3 (<< ${LENSBAY_PYTHON_NEXT_VERSION}), python3-numpy")
  if(CPACK_DEBIAN_PACKAGE_DEPENDS)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${python_depends}")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${python_depends}")
  endif()
endif()
# Maintainer scripts: PINBUS.OCX registered machine-wide on install, unregistered on removal, the
# machine-wide registry removed on purge.
set(PINBUS_PATH /usr/${LENSBAY_PRIVATE_LIBDIR}/PINBUS.OCX)
set(MACHINE_REGISTRY /var/lib/lensbay/registry.reg)
set(MACHINE_REGISTRY_DIR /var/lib/lensbay)
set(lensbay_maintainer_scripts)
foreach(script postinst prerm postrm)
  configure_file(${LENSBAY_PACKAGING_DIR}/debian/${script}.in
                 ${CMAKE_BINARY_DIR}/packaging/debian/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  list(APPEND lensbay_maintainer_scripts ${CMAKE_BINARY_DIR}/packaging/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${lensbay_maintainer_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps runs in the staging folder; the private libraries are resolved there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${LENSBAY_PRIVATE_LIBDIR}")
include(CPack)
