# The Debian package of the program (cmake --build build --target package): the program in
# /usr/lib/pelio with its sounds beside it, /usr/bin/pelio linking to it, the menu entry and its icon.
# The program keeps its settings and history in $XDG_DATA_HOME/PelioRS when its own folder is not
# writable, as it is not once installed.

include(GNUInstallDirs)

install(TARGETS pelio RUNTIME DESTINATION lib/pelio)
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/system DESTINATION lib/pelio)
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
file(CREATE_LINK ../lib/pelio/pelio \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/pelio\" SYMBOLIC)")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pelio.desktop DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pelio.svg DESTINATION share/icons/hicolor/scalable/apps)

# The program's sounds beside the built program too, so that a run from the build tree has them.
file(COPY ${CMAKE_CURRENT_LIST_DIR}/system DESTINATION ${CMAKE_BINARY_DIR}/src)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelio)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pelio <support@pelio.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Pelio 원격지원 고객용: remote support for customers")
set(CPACK_PACKAGE_DESCRIPTION
    "The customer-side program of a remote-support service: it asks a company's support agent for help,\n lets the agent see and control the screen, and exchanges chat lines and files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The libraries it links, found by dpkg-shlibdeps (the browser engine's helper process comes with
# them), and what it needs besides them: Korean fonts and the desktop's opener for pages and folders.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-nanum, xdg-utils")
# Qt's texts in Korean, and the desktop's own file chooser where the desktop offers the portal.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-xdgdesktopportal-platformtheme")
set(CPACK_STRIP_FILES ON)
include(CPack)
