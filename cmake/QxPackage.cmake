# The Debian package: CPack's DEB generator around the tree that `cmake --install` makes.
# Its dependencies come from the binaries (dpkg-shlibdeps); scripts/package.sh builds it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessera-quadrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessera Quadrix")
set(CPACK_PACKAGE_CONTACT "Tessera Quadrix maintainers <packages@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configurator for the Tessera Quadrix keyboard with a display on every key")
set(CPACK_PACKAGE_DESCRIPTION
    "The Tessera Quadrix keyboard carries a 48x48 colour display on each of
its 113 keys. This program lives in the notification area and drives it:
a tree of layers and groups gives every key a picture or a live view and
an action, and conditions switch layers on and off. Includes qxctl, a
command-line companion, and qxvkbd, a virtual keyboard.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The autostart entry and the udev rule have absolute destinations (/etc, /usr/lib/udev).
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_amd64)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/tessera-quadrix")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's own libraries live in its folder, not in a public library path.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_FILE_NAME}/usr/${QX_INSTALL_PROGRAM_DIR})
# Qt finds its platform plug-ins at run time, so dpkg-shlibdeps cannot see them: the X11
# one is needed, the Wayland one serves sessions without X.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, udisks2, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Our own maintainer scripts also keep CPack from adding ldconfig calls: the libraries are
# the program's own, in its folder, not in the linker's search path.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)

include(CPack)
