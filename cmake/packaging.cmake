# What "cmake --install" puts in place besides the library itself:
# pkg-config file, CMake package, programs, man pages, bash completion.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SNLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/snLib)
install(EXPORT snLibTargets NAMESPACE snLib:: DESTINATION ${SNLIB_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/snLibConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/snLibConfig.cmake
  INSTALL_DESTINATION ${SNLIB_CMAKE_DIR})
# 0.x: only the same minor version promises the same interface.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/snLibConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/snLibConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/snLibConfigVersion.cmake
        DESTINATION ${SNLIB_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so the installed tree
# can be moved (or installed with --prefix) and still be right.
set(SNLIB_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH SNLIB_PC_TO_PREFIX /prefix/${SNLIB_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" SNLIB_PC_TO_PREFIX "${SNLIB_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/snLib.pc.in ${CMAKE_CURRENT_BINARY_DIR}/snLib.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/snLib.pc DESTINATION ${SNLIB_PC_DIR})

foreach(program snterm snsim snctl snbusd snweb snmqtt)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The page's version is the project's.
    configure_file(${PROJECT_SOURCE_DIR}/man/${program}.1 ${PROJECT_BINARY_DIR}/man/${program}.1 @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
# Where bash-completion looks for a command's completion: a file named as it.
foreach(program snterm snsim snctl snbusd snweb snmqtt)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

# The systemd template units: the daemon's (snbusd@ttyUSB0 serves
# /dev/ttyUSB0) and a bridge's (snctl-bridge@NAME, one port served over TCP).
set(SN_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd units are installed (relative: below the prefix)")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/snbusd@.service
              ${PROJECT_SOURCE_DIR}/packaging/snctl-bridge@.service DESTINATION ${SN_SYSTEMD_UNIT_DIR})

# snmqtt's units (snmqtt.service, and snmqtt@NAME for a second bridge) and
# the options file snmqtt.service reads, commented out with an example.
set(SN_SYSCONF_DIR "etc" CACHE STRING
    "Where the programs' configuration is installed (relative: below the prefix)")
if(TARGET snmqtt)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/snmqtt.service
                ${PROJECT_SOURCE_DIR}/packaging/snmqtt@.service DESTINATION ${SN_SYSTEMD_UNIT_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/snmqtt.conf DESTINATION ${SN_SYSCONF_DIR}/snmqtt)
endif()

# The licences of uPlot and xterm.js, which snweb carries inside it.
install(FILES ${PROJECT_SOURCE_DIR}/snweb/web/node_modules/uplot/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/snlib RENAME uPlot.LICENSE)
install(FILES ${PROJECT_SOURCE_DIR}/snweb/web/node_modules/@xterm/xterm/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/snlib RENAME xterm.js.LICENSE)

# The Python package snlib (pure Python over the shared library) where
# Debian's python3 looks for it, and its sn:// handler beside pyserial's
# own, so that pyserial finds it without an import of snlib.
set(SN_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
    "Where the Python package snlib is installed (relative: below the prefix)")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/snlib DESTINATION ${SN_PYTHON_DIR}
        PATTERN __pycache__ EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/python/pyserial-handler/protocol_sn.py
        DESTINATION ${SN_PYTHON_DIR}/serial/urlhandler)
