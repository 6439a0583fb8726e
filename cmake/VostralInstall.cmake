# Installing the monitor on a Linux desktop, and its Debian package.
#
#   cmake --install build --prefix /usr --strip     the program and its desktop files
#   (cd build && cpack -G DEB)                      vostral-monitor_<version>_<arch>.deb
#
# What goes where (relative to the prefix):
#   bin/vostral-monitor                                   the program
#   share/applications/vostral-monitor.desktop            its menu entry
#   share/icons/hicolor/<n>x<n>/apps/vostral-monitor.png  its icon, at the size the build draws it
#   share/man/man1/vostral-monitor.1.gz                   its manual page
#   lib/udev/rules.d/60-vostral-monitor.rules             sensor access for the user at the seat
#   share/doc/vostral-monitor/{changelog.gz,copyright}
#   bin/vostral-logger                                    the recorder (where libmosquitto is)
#   share/man/man1/vostral-logger.1.gz                    its manual page
#   lib/systemd/system/vostral-logger.service             its service, installed but not enabled
#   lib/systemd/system/vostral-logger@.service            the same, one per sensor (by serial number)
#
# The simulated-sensor launcher is not installed: it needs umockdev at run time and serves
# development and tests only.
include(GNUInstallDirs)

set(VOSTRAL_PACKAGE vostral-monitor)
set(VOSTRAL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Folder for the udev rules, relative to the prefix or absolute (udev reads /usr/lib/udev/rules.d and /usr/local/lib/udev/rules.d)")
set(VOSTRAL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
  "Folder for the logger's systemd unit, relative to the prefix or absolute (systemd reads /usr/lib/systemd/system, /usr/local/lib/systemd/system and /etc/systemd/system)")

set(vostral_pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(vostral_pkg_out ${CMAKE_BINARY_DIR}/packaging)
set(vostral_docdir ${CMAKE_INSTALL_DATADIR}/doc/${VOSTRAL_PACKAGE})

# A umask of 002 must not leave group-writable folders in the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The manual page carries the program's version; man pages and changelogs are installed
# gzipped, without a time stamp in the gzip header so that rebuilds give the same bytes.
configure_file(${vostral_pkg_src}/vostral-monitor.1.in ${vostral_pkg_out}/vostral-monitor.1 @ONLY)
configure_file(${vostral_pkg_src}/vostral-logger.1.in ${vostral_pkg_out}/vostral-logger.1 @ONLY)
find_program(VOSTRAL_GZIP gzip)
if(VOSTRAL_GZIP)
  set(vostral_manpage ${vostral_pkg_out}/gz/vostral-monitor.1.gz)
  set(vostral_logger_manpage ${vostral_pkg_out}/gz/vostral-logger.1.gz)
  set(vostral_changelog ${vostral_pkg_out}/gz/changelog.gz)
  add_custom_command(OUTPUT ${vostral_manpage} ${vostral_logger_manpage} ${vostral_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${vostral_pkg_out}/gz
    COMMAND ${CMAKE_COMMAND} -E copy ${vostral_pkg_out}/vostral-monitor.1
            ${vostral_pkg_out}/vostral-logger.1 ${vostral_pkg_src}/changelog ${vostral_pkg_out}/gz
    COMMAND ${VOSTRAL_GZIP} -9nf ${vostral_pkg_out}/gz/vostral-monitor.1
            ${vostral_pkg_out}/gz/vostral-logger.1 ${vostral_pkg_out}/gz/changelog
    DEPENDS ${vostral_pkg_out}/vostral-monitor.1 ${vostral_pkg_out}/vostral-logger.1
            ${vostral_pkg_src}/changelog
    COMMENT "Compressing the manual pages and the changelog"
    VERBATIM)
  add_custom_target(vostral-packaging-docs ALL
    DEPENDS ${vostral_manpage} ${vostral_logger_manpage} ${vostral_changelog})
else()
  set(vostral_manpage ${vostral_pkg_out}/vostral-monitor.1)
  set(vostral_logger_manpage ${vostral_pkg_out}/vostral-logger.1)
  set(vostral_changelog ${vostral_pkg_src}/changelog)
endif()

# Full RELRO: the dynamic linker resolves every symbol at start and the GOT becomes read-only.
target_link_options(vostral-monitor PRIVATE -Wl,-z,relro -Wl,-z,now)

install(TARGETS vostral-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The logger exists only where libmosquitto is; the service is useless without it.
set(vostral_programs vostral-monitor)
if(TARGET vostral-logger)
  target_link_options(vostral-logger PRIVATE -Wl,-z,relro -Wl,-z,now)
  install(TARGETS vostral-logger RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${vostral_logger_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The units name the program where this install puts it (/usr/bin in the package); the prefix
  # is known only at install time. No install step enables them: the owner starts them.
  foreach(unit_file vostral-logger.service vostral-logger@.service)
    install(CODE "
      file(READ \"${vostral_pkg_src}/${unit_file}\" unit)
      string(REPLACE /usr/bin/vostral-logger
        \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vostral-logger\" unit \"\${unit}\")
      file(WRITE \"${vostral_pkg_out}/unit/${unit_file}\" \"\${unit}\")")
    install(FILES ${vostral_pkg_out}/unit/${unit_file} DESTINATION ${VOSTRAL_SYSTEMD_UNIT_DIR})
  endforeach()
  list(APPEND vostral_programs vostral-logger)
endif()
# A stripped install (--strip, and the package) also drops the compiler's notes, as dh_strip does.
if(CMAKE_STRIP)
  foreach(program ${vostral_programs})
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
      endif()")
  endforeach()
endif()
install(FILES ${vostral_pkg_src}/vostral-monitor.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${vostral_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${vostral_pkg_src}/60-vostral-monitor.rules DESTINATION ${VOSTRAL_UDEV_RULES_DIR})
install(FILES ${vostral_changelog} ${vostral_pkg_src}/copyright DESTINATION ${vostral_docdir})

# The icon's size is known only once the build has drawn it, so its theme folder is chosen
# at install time.
install(CODE "
  set(VOSTRAL_ICON_FILE \"${CMAKE_BINARY_DIR}/resources/Icons/vostral-monitor.png\")
  set(VOSTRAL_ICON_THEME_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/icons/hicolor\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/VostralInstallIcon.cmake)

# The Debian package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VOSTRAL_PACKAGE})
set(CPACK_PACKAGE_VENDOR "Vostral")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vostral Monitor Developers <monitor@vostral.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop monitor for Vostral air-quality sensors")
set(CPACK_PACKAGE_DESCRIPTION
"Shows the readings of a Vostral particulate sensor (PM2.5 and PM10, on some
models also formaldehyde or TVOC) as numbers and as a zoomable time plot with
concentration bands. The sensor is found on the USB bus or behind a CH340
USB-serial bridge and read every 200 ms.

The program downloads the history that the sensor stores, saves and opens
record files and tab-separated text exports, and speaks Chinese and English.
Its udev rules give the user at the local seat access to the sensor without
root.")
if(TARGET vostral-logger)
  string(APPEND CPACK_PACKAGE_DESCRIPTION "

vostral-logger records a sensor around the clock into CSV and record files,
comes back after unplugging and restarts, and can run as a system service
(installed, not enabled).")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The interface starts in Chinese: without a CJK font its texts show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-zenhei | fonts-wqy-microhei")
# The dependencies follow from what the program really links (Qt 5, Qwt, libusb and the C++
# runtime); without dpkg-shlibdeps they are named by hand.
find_program(VOSTRAL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VOSTRAL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libqt5core5a, libqt5gui5 | libqt5gui5-gles, libqt5widgets5, libqt5serialport5, libqwt-qt5-6, libusb-1.0-0")
  if(TARGET vostral-logger)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libmosquitto1")
  endif()
endif()

set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build[^/]*/" "/Data/" "/History_Data/" "/fuzz/corpus-work/")
include(CPack)
