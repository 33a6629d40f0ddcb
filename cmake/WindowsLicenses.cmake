# What the Windows installer and zip owe the software they carry besides Tarnovid: each part's
# licence text and copyright notices, and where its source is. All of it goes into licenses\ beside
# bin\; the installer also shows the overview on its licence page.
#
# The texts are Debian's own records of the packages the parts come from, read from this machine
# when the packages are made, so they cannot drift from what ships: the MinGW runtime DLLs are
# Debian's files (WindowsRuntime.cmake puts them beside the programs), and the Windows Qt and hidapi
# in the toolchains folder were built from the same Debian source packages as this machine's own
# (see that folder's README). scripts/packages/windows.list installs every package read here.

set(_licenses licenses)

# The source packages the toolchains folder's Qt and hidapi were built from. The versions must
# agree with the builds found: the overview names these as their source.
set(TARNOVID_QT_SOURCE qt6-base)
set(TARNOVID_QT_SOURCE_VERSION 6.4.2+dfsg-10)
set(TARNOVID_HIDAPI_SOURCE hidapi)
set(TARNOVID_HIDAPI_SOURCE_VERSION 0.13.1-1)
set(TARNOVID_HIDAPI_PATCH hidapi-0.13.1-wine8-optional-CM_Get_Device_Interface_PropertyW.patch)

# A native build on Windows (MSYS2, vcpkg) has neither Debian's records nor the toolchains folder:
# its packages go without the texts, and whoever hands them on must add them.
find_program(TARNOVID_DPKG_QUERY dpkg-query)
if(NOT CMAKE_CROSSCOMPILING OR NOT TARNOVID_DPKG_QUERY)
  message(WARNING "Not a cross-build on Debian: the Windows packages made here carry no licence "
    "texts of Qt, hidapi and the MinGW runtime; add them before handing the packages on")
  return()
endif()

get_filename_component(_toolchains "${CMAKE_TOOLCHAIN_FILE}" DIRECTORY)
set(TARNOVID_WINDOWS_TOOLCHAINS "${_toolchains}" CACHE PATH
  "Folder of the Windows builds of Qt and hidapi, with their build scripts and hidapi's patch")

# The part of a Debian version that names the upstream release: 6.4.2 of 6.4.2+dfsg-10.
function(_tarnovid_upstream_version debian_version out)
  string(REGEX REPLACE "^[0-9]+:" "" version "${debian_version}")
  string(REGEX REPLACE "[-+~].*$" "" version "${version}")
  set(${out} ${version} PARENT_SCOPE)
endfunction()

# Sets <prefix>_PACKAGE, _PACKAGE_VERSION, _SOURCE, _SOURCE_VERSION, _BUILT_USING and _COPYRIGHT
# (the file's real path, so that a package whose doc folder is a link installs the text itself)
# from the installed package <package>.
function(_tarnovid_debian_record package prefix)
  execute_process(
    COMMAND ${TARNOVID_DPKG_QUERY} -W
      "-f=\${Package}\n\${Version}\n\${source:Package}\n\${source:Version}\n\${Built-Using}"
      ${package}
    OUTPUT_VARIABLE record RESULT_VARIABLE rc ERROR_QUIET)
  set(copyright /usr/share/doc/${package}/copyright)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${copyright})
    message(FATAL_ERROR "Debian's package ${package} is missing: it holds the licence of a part of "
      "the Windows packages (scripts/setup windows installs it)")
  endif()
  string(REPLACE "\n" ";" record "${record}")
  list(APPEND record "") # an empty Built-Using leaves no line
  list(GET record 0 name)
  list(GET record 1 version)
  list(GET record 2 source)
  list(GET record 3 source_version)
  list(GET record 4 built_using)
  file(REAL_PATH ${copyright} copyright)
  set(${prefix}_PACKAGE ${name} PARENT_SCOPE)
  set(${prefix}_PACKAGE_VERSION ${version} PARENT_SCOPE)
  set(${prefix}_SOURCE ${source} PARENT_SCOPE)
  set(${prefix}_SOURCE_VERSION ${source_version} PARENT_SCOPE)
  set(${prefix}_BUILT_USING "${built_using}" PARENT_SCOPE)
  set(${prefix}_COPYRIGHT ${copyright} PARENT_SCOPE)
endfunction()

# The installed package a file of this machine belongs to.
function(_tarnovid_debian_owner path out)
  execute_process(COMMAND ${TARNOVID_DPKG_QUERY} -S ${path}
    OUTPUT_VARIABLE owner RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0 OR NOT owner MATCHES "^([^:, ]+)")
    message(FATAL_ERROR "${path} belongs to no Debian package: the Windows packages ship it "
      "and need its licence")
  endif()
  set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()

# Qt and hidapi: the host's packages of the same sources carry their records.
_tarnovid_debian_record(qt6-base-dev _qt)
_tarnovid_debian_record(libhidapi-dev _hidapi)
foreach(part QT HIDAPI)
  string(TOLOWER ${part} prefix)
  _tarnovid_upstream_version(${TARNOVID_${part}_SOURCE_VERSION} shipped)
  _tarnovid_upstream_version(${_${prefix}_SOURCE_VERSION} recorded)
  if(NOT _${prefix}_SOURCE STREQUAL TARNOVID_${part}_SOURCE OR NOT shipped VERSION_EQUAL recorded)
    message(FATAL_ERROR "This machine's ${_${prefix}_PACKAGE} is of ${_${prefix}_SOURCE} "
      "${_${prefix}_SOURCE_VERSION}, the Windows build's of ${TARNOVID_${part}_SOURCE} "
      "${TARNOVID_${part}_SOURCE_VERSION}: its licence record would be another release's")
  endif()
endforeach()
_tarnovid_upstream_version(${TARNOVID_QT_SOURCE_VERSION} _shipped)
if(NOT Qt6_VERSION VERSION_EQUAL _shipped)
  message(FATAL_ERROR "The Windows Qt is ${Qt6_VERSION}, but the packages say it is "
    "${TARNOVID_QT_SOURCE} ${TARNOVID_QT_SOURCE_VERSION}: update WindowsLicenses.cmake")
endif()
_tarnovid_upstream_version(${TARNOVID_HIDAPI_SOURCE_VERSION} _shipped)
if(NOT hidapi_VERSION VERSION_EQUAL _shipped)
  message(FATAL_ERROR "The Windows hidapi is '${hidapi_VERSION}', but the packages say it is "
    "${TARNOVID_HIDAPI_SOURCE} ${TARNOVID_HIDAPI_SOURCE_VERSION}: update WindowsLicenses.cmake")
endif()

# The MinGW runtime: the records of the packages the shipped DLLs belong to.
set(_gcc_dll)
set(_winpthread_dll)
foreach(path IN LISTS _tarnovid_runtime_dlls)
  get_filename_component(name ${path} NAME)
  if(name STREQUAL "libstdc++-6.dll")
    set(_gcc_dll ${path})
  elseif(name STREQUAL "libwinpthread-1.dll")
    set(_winpthread_dll ${path})
  endif()
endforeach()
if(NOT _gcc_dll OR NOT _winpthread_dll)
  message(FATAL_ERROR "WindowsRuntime.cmake ships no libstdc++-6.dll or libwinpthread-1.dll: "
    "their licences cannot be found")
endif()
_tarnovid_debian_owner(${_gcc_dll} _package)
_tarnovid_debian_record(${_package} TARNOVID_GCC)
_tarnovid_debian_owner(${_winpthread_dll} _package)
_tarnovid_debian_record(${_package} TARNOVID_MINGW)
# tarnovid.dll has libstdc++, libgcc and winpthreads linked in (libtarnovid/CMakeLists.txt): their
# archives must come from the same sources as the DLLs, which the overview names.
set(TARNOVID_GCC_STATIC_PACKAGES)
foreach(archive libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${archive}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${archive}, which tarnovid.dll links in, not found")
  endif()
  file(REAL_PATH "${path}" path)
  _tarnovid_debian_owner(${path} _package)
  _tarnovid_debian_record(${_package} _static)
  if(archive STREQUAL "libwinpthread.a")
    set(part MINGW)
  else()
    set(part GCC)
    list(APPEND TARNOVID_GCC_STATIC_PACKAGES ${_package})
  endif()
  if(NOT _static_SOURCE STREQUAL TARNOVID_${part}_SOURCE
      OR NOT _static_SOURCE_VERSION STREQUAL TARNOVID_${part}_SOURCE_VERSION)
    message(FATAL_ERROR "${path} is of ${_static_SOURCE} ${_static_SOURCE_VERSION}, the shipped "
      "DLLs of ${TARNOVID_${part}_SOURCE} ${TARNOVID_${part}_SOURCE_VERSION}: the licence overview "
      "would name another source for what tarnovid.dll holds")
  endif()
endforeach()
list(REMOVE_DUPLICATES TARNOVID_GCC_STATIC_PACKAGES)
list(JOIN TARNOVID_GCC_STATIC_PACKAGES " and " TARNOVID_GCC_STATIC_PACKAGES)

# GCC's own source comes in the compiler's source package that the MinGW build names.
if(NOT TARNOVID_GCC_BUILT_USING MATCHES "^([^ ,]+) \\(= ([^)]+)\\)")
  message(FATAL_ERROR "${TARNOVID_GCC_PACKAGE} names no GCC source it was built from "
    "(Built-Using: '${TARNOVID_GCC_BUILT_USING}')")
endif()
set(TARNOVID_GCC_UPSTREAM ${CMAKE_MATCH_1})
set(TARNOVID_GCC_UPSTREAM_VERSION ${CMAKE_MATCH_2})

# Versions as they appear in the archive's addresses.
foreach(var QT_SOURCE HIDAPI_SOURCE GCC_SOURCE GCC_UPSTREAM MINGW_SOURCE)
  string(REPLACE "+" "%2B" TARNOVID_${var}_VERSION_URL "${TARNOVID_${var}_VERSION}")
  string(REPLACE ":" "%3A" TARNOVID_${var}_VERSION_URL "${TARNOVID_${var}_VERSION_URL}")
endforeach()

# Windows line ends: the installer's licence page shows the file as it is.
set(TARNOVID_WINDOWS_LICENSES_README ${CMAKE_BINARY_DIR}/packaging/licenses/README.txt)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/licenses-README.txt.in
  ${TARNOVID_WINDOWS_LICENSES_README} @ONLY NEWLINE_STYLE CRLF)

install(FILES ${TARNOVID_WINDOWS_LICENSES_README} DESTINATION ${_licenses})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_licenses}
  RENAME tarnovid.txt)
install(FILES ${_qt_COPYRIGHT} DESTINATION ${_licenses} RENAME qt6-base.txt)
install(FILES ${_hidapi_COPYRIGHT} DESTINATION ${_licenses} RENAME hidapi.txt)
install(FILES ${TARNOVID_GCC_COPYRIGHT} DESTINATION ${_licenses} RENAME gcc-runtime.txt)
install(FILES ${TARNOVID_MINGW_COPYRIGHT} DESTINATION ${_licenses} RENAME mingw-w64.txt)
# The full texts the records refer to in /usr/share/common-licenses (base-files, which every
# Debian system has).
foreach(licence LGPL-3 GPL-3 GPL-2)
  install(FILES /usr/share/common-licenses/${licence} DESTINATION ${_licenses}
    RENAME ${licence}.txt)
endforeach()

# How Qt and hidapi were built, and hidapi's one change: hidapi is linked into the programs, so
# its change ships with them.
foreach(name build-qt-mingw.sh build-hidapi-mingw.sh mingw-w64-x86_64-posix.cmake
    ${TARNOVID_HIDAPI_PATCH})
  set(path ${TARNOVID_WINDOWS_TOOLCHAINS}/${name})
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "${path} is missing: the Windows packages say how their Qt and hidapi "
      "were built (set TARNOVID_WINDOWS_TOOLCHAINS to the toolchains folder)")
  endif()
  install(FILES ${path} DESTINATION ${_licenses})
endforeach()
