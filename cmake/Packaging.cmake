# How `cpack` turns the install tree into a Debian package.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnovid)
set(CPACK_PACKAGE_VENDOR "Dravelko")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Build types with debug info would otherwise ship a binary several times larger.
set(CPACK_STRIP_FILES ON)

# No address: the project has no public one yet, and an invented one would send mail nowhere.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarnovid developers")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary becomes the synopsis line; CPack indents this text below it.
set(CPACK_PACKAGE_DESCRIPTION "Tarnovid switches the eight outputs of the USB Tarnovid experimental HID
board and reads its three inputs. tarnovidctl does the same from scripts
and programs. A udev rule gives the user logged in at the computer access
to the board, so neither needs root.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# dpkg-shlibdeps derives the library packages from the linked ELF files
# (Qt, hidapi, libstdc++). It cannot see what Qt loads at run time:
#  - the xcb platform plugin, without which the window cannot open on X11;
#  - the SVG icon engine that draws the window icon (libqt6svg6 carries it
#    on Debian 12, qt6-svg-plugins on later releases);
#  - the font the window's captions are measured against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, qt6-svg-plugins | libqt6svg6, fonts-liberation")

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/postinst
  ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Without this, `package_source` would pack every build directory and .git too.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/out/" "\\.swp$")

include(CPack)
