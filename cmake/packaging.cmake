# Installing: the two programs, a desktop entry with its icon, the udev rule
# for USB serial adapters, and the demo configuration as the example that a
# first start copies into the user's folder. `make package` builds a Debian
# package of the same with CPack.
include(GNUInstallDirs)

if(TARGET kovra-logger)
  install(TARGETS kovra-logger RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kovra-logger.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kovra-logger.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(TARGETS kovra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The example: what demo/ holds, less the simulator's memory map.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kovra/example
        PATTERN "ecu-memory.ini" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/demo/ecu-memory.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kovra)
# udev rules live under /lib on Debian whatever the prefix.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/99-kovra-usb-serial.rules
        DESTINATION ${KOVRA_UDEV_RULES_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kovra-logger)
set(CPACK_PACKAGE_VENDOR "Kovra Logger")
set(CPACK_PACKAGE_CONTACT "Kovra Logger developers <dev@kovra-logger.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ECU data logger and live dashboard for a serial K-line cable")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Qt, libjpeg and the C++ runtime, as dpkg-shlibdeps finds them
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Polls an engine control unit over a serial port, turns its raw bytes into values\n with formulas compiled at start-up, and shows them as strip charts, a gauge\n panel and a run-by-run chart; records raw samples to log files.")
include(CPack)
