# How `cpack` turns the install tree into Debian packages: the tool, and the C library split as
# Debian ships a library (runtime, -dev, Python module).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnovid)
set(CPACK_PACKAGE_VENDOR "Dravelko")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Build types with debug info would otherwise ship a binary several times larger.
set(CPACK_STRIP_FILES ON)

# No address: the project has no public one yet, and an invented one would send mail nowhere.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarnovid developers")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION "Tarnovid switches the eight outputs of the USB Tarnovid experimental HID
board and reads its three inputs. tarnovidctl does the same from scripts
and programs. A udev rule gives the user logged in at the computer access
to the board, so neither needs root.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# One .deb per install component (TARNOVID_DEB_PACKAGES, packaging/CMakeLists.txt), all from one
# source. Each says its own synopsis, the first line of its description: CPack would put the
# project's summary in front of every one of them, so it is left empty for the .debs.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarnovid)
if(NOT WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
endif()
set(CPACK_COMPONENTS_ALL)
set(_packages ${TARNOVID_DEB_PACKAGES})
while(_packages)
  list(POP_FRONT _packages component package)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} component)
  set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package})
endwhile()
set(_library_depends "libtarnovid1 (= ${PROJECT_VERSION})")

# The tool. The summary becomes the synopsis line; CPack indents the text below it.
set(CPACK_DEBIAN_TARNOVID_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TARNOVID_DESCRIPTION "${PROJECT_DESCRIPTION}\n${CPACK_PACKAGE_DESCRIPTION}")
# dpkg-shlibdeps derives the library packages from the linked ELF files
# (Qt, hidapi, libstdc++). It cannot see what Qt loads at run time:
#  - the xcb platform plugin, without which the window cannot open on X11;
#  - the SVG icon engine that draws the window icon (libqt6svg6 carries it
#    on Debian 12, qt6-svg-plugins on later releases);
#  - the font the window's captions are measured against.
# Nor can it tell which package holds libtarnovid, built here: it finds the library in the build
# tree and the dependency is named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/libtarnovid)
set(CPACK_DEBIAN_TARNOVID_PACKAGE_DEPENDS
  "${_library_depends}, qt6-qpa-plugins, qt6-svg-plugins | libqt6svg6, fonts-liberation")
set(CPACK_DEBIAN_TARNOVID_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/postinst
  ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The C library: libtarnovid.so.1 alone, named after its SONAME, with the shlibs and symbols
# files through which dpkg-shlibdeps makes other packages depend on it, and the dynamic loader's
# cache refreshed by a trigger.
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/library/triggers
  ${PROJECT_SOURCE_DIR}/packaging/library/symbols)
set(CPACK_DEBIAN_LIB_DESCRIPTION "USB Tarnovid experimental board library
libtarnovid switches the eight outputs of the USB Tarnovid experimental HID
board and reads its three inputs from C and from any language that calls C.
It finds and opens the board as the Tarnovid window does, waits a bounded
time for it, and offers a simulated board for writing programs before the
board arrives.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${_library_depends}")
set(CPACK_DEBIAN_DEV_DESCRIPTION "USB Tarnovid experimental board library - development files
The header tarnovid.h, the pkg-config file, the CMake package
(find_package(Tarnovid)) and the manual page tarnovid(3) for building
programs against libtarnovid, which drives the USB Tarnovid experimental
HID board.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${_library_depends}, python3:any")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "USB Tarnovid experimental board - Python 3 module
The module tarnovid switches the eight outputs of the USB Tarnovid
experimental HID board and reads its three inputs from Python 3, through
libtarnovid.")

# Without this, `package_source` would pack every build directory and .git too.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/out/" "\\.swp$")

# The installer and the zip hold every install component in one: the components make the .debs.
if(WIN32)
  set(CPACK_MONOLITHIC_INSTALL ON)
endif()

# ---- Windows only: an NSIS installer and a portable zip instead of the .deb ----
# The Debian settings above are ignored by these generators.
if(WIN32)
  set(CPACK_GENERATOR NSIS ZIP)
  set(CPACK_SYSTEM_NAME win64) # tarnovid-1.1.0-win64.exe / .zip
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Tarnovid)
  set(CPACK_NSIS_PACKAGE_NAME Tarnovid)
  set(CPACK_NSIS_DISPLAY_NAME Tarnovid)
  # Start-menu folder "Tarnovid" with the tool, the demo on a simulated board, and the
  # uninstaller, which CPack adds by itself.
  set(CPACK_PACKAGE_EXECUTABLES
    tarnovid Tarnovid
    tarnovid-demo "Tarnovid demo (simulated board)")
  # The programs are 64-bit only, and so is the installer: it installs into the 64-bit
  # Program Files, and it runs where Wine has no 32-bit half. (The earliest place CPack's
  # installer script takes a line of ours; makensis -X would lose its quoting on the way.)
  # The same place takes the functions that end our programs still running from the folder
  # (NSIS's single quotes: CPack mangles double ones here).
  set(CPACK_NSIS_DEFINES "Target amd64-unicode
  !include '${PROJECT_SOURCE_DIR}/packaging/windows/running-programs.nsh'")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  if(TARNOVID_WINDOWS_ICON)
    set(CPACK_NSIS_MUI_ICON ${TARNOVID_WINDOWS_ICON})
    set(CPACK_NSIS_MUI_UNIICON ${TARNOVID_WINDOWS_ICON})
  endif()
  # Apps & features. Escaped twice: CPack reads the value once more from its own config file.
  set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\tarnovid.exe")
  # No contact: the project has no public address or home page yet (see the maintainer above), and
  # an invented one would reach nobody. Apps shows the home page once project() names one.
  set(CPACK_NSIS_URL_INFO_ABOUT "${PROJECT_HOMEPAGE_URL}")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_MODIFY_PATH OFF)
  # A running program cannot be deleted or replaced: end ours before removing or overwriting them.
  set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "Call TarnovidCloseRunning")
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "Call un.TarnovidCloseRunning")

  # The licences and sources of what ships beside the programs; the installer's licence page
  # shows their overview instead of CPack's "no license provided".
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsLicenses.cmake)
  if(TARNOVID_WINDOWS_LICENSES_README)
    set(CPACK_RESOURCE_FILE_LICENSE ${TARNOVID_WINDOWS_LICENSES_README})
  endif()
endif()

include(CPack)
