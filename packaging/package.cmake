# The Debian package for a real office LAN (cpack -G DEB in the build
# folder; tools/package-test.sh builds it and runs two computers from it):
#   /usr/lib/vask/        vask-host, vask-bridge, libvask.so, libvaskwin32.so
#                         and doc/Vask.html,
#                         together, as vask-host finds the plug-in and the
#                         plug-in its help beside itself
#   /usr/bin/             vask (start the messenger and open its page), and
#                         links to vask-host and vask-bridge
#   the bridge's systemd unit for one user, the desktop entry and its icon,
#   the real-LAN guide.
# The maintainer scripts give vask-bridge the capability to bind UDP 137
# and 138, which dpkg cannot carry.

set(VASK_PACKAGE_LIB lib/vask)

# The host and the plug-in share the platform library, which lies beside
# them: they find it there by their run path, whatever the folder.
install(TARGETS vask-host vask-bridge RUNTIME DESTINATION ${VASK_PACKAGE_LIB})
install(TARGETS vask vaskwin32 LIBRARY DESTINATION ${VASK_PACKAGE_LIB})
set_target_properties(vask-host vask PROPERTIES INSTALL_RPATH "\$ORIGIN")
install(FILES ${PROJECT_SOURCE_DIR}/doc/Vask.html DESTINATION ${VASK_PACKAGE_LIB}/doc)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/vask DESTINATION bin)
foreach(program vask-host vask-bridge)
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(CREATE_LINK ../${VASK_PACKAGE_LIB}/${program}
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\" SYMBOLIC)")
endforeach()
# Debian 12 keeps system units below /lib (the same folder where /usr is
# merged).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vask-bridge@.service DESTINATION /lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vask.desktop DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vask.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/docs/real-lan.md ${CMAKE_CURRENT_LIST_DIR}/copyright
  DESTINATION share/doc/vask)
install(CODE "file(CREATE_LINK ../../../${VASK_PACKAGE_LIB}/doc/Vask.html
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/doc/vask/Vask.html\" SYMBOLIC)")

# Packing needs the packaged programs only, not every test of the build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vask)
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/vask.rc vask_version_line
  REGEX "VALUE \"ProductVersion\", \"[^\"]+\"")
string(REGEX REPLACE ".*\"ProductVersion\", \"([^\"]+)\".*" "\\1" VASK_VERSION "${vask_version_line}")
set(CPACK_PACKAGE_VERSION ${VASK_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serverless LAN messenger for the office network")
# One line of the control file's description each.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Vask carries messages, status and searches between the computers of one"
  "network segment without a server, as mailslot datagrams over NetBIOS"
  "(UDP 137 and 138). The command vask starts this person's messenger"
  "(vask-host with the network plug-in libvask.so) and opens its page in the"
  "browser; vask-bridge relays between the network and the local computers.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vask developers <vask@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap gives the bridge its capability; util-linux's flock tells whether
# a messenger runs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, util-linux")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/prerm ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
