# Debian packages of the four install parts, built by CPack from a build
# configured for the system's folders (scripts/build-packages does it):
#
#   libkorvan-framework-lib1     runtime    the library, as a player takes it
#   libkorvan-stand-ins1         stand_ins  the platform's stand-ins for a development machine
#   libkorvan-framework-lib-dev  dev        headers, pkg-config files, CMake package, API reference
#   korvan-sim                   sim        the simulator, its sandbox, their manual pages
#
# The library needs the platform's libraries (the settings store, dialog
# service, output daemon client, screen saver).  On a development machine
# the stand-ins are those; a player's own platform package satisfies the
# dependency instead by providing korvan-platform.
set(KVN_DEB_RUNTIME libkorvan-framework-lib${PROJECT_VERSION_MAJOR})
set(KVN_DEB_STAND_INS libkorvan-stand-ins${PROJECT_VERSION_MAJOR})
set(KVN_DEB_DEV libkorvan-framework-lib-dev)
set(KVN_DEB_SIM korvan-sim)
set(KVN_DEB_SOURCE korvan-framework)
set(KVN_DEB_MAINTAINER "libkorvan_framework_lib developers <korvan-framework@example.org>")

# --- What every package carries in /usr/share/doc/<package>: the licence in
# --- Debian's machine-readable form, and the changelog (these are native
# --- packages: the project is its own upstream).  Only the packages install
# --- them; a plain install has LICENSE and CHANGELOG.md in its doc folder.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE KVN_LICENSE_TEXT)
string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" KVN_LICENSE_TEXT "${KVN_LICENSE_TEXT}")
string(STRIP "${KVN_LICENSE_TEXT}" KVN_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" KVN_LICENSE_TEXT "${KVN_LICENSE_TEXT}")
string(REPLACE "\n" "\n " KVN_LICENSE_TEXT "${KVN_LICENSE_TEXT}")
set(KVN_LICENSE_TEXT " ${KVN_LICENSE_TEXT}\n")
set(KVN_DEB_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(WRITE ${KVN_DEB_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: libkorvan_framework_lib\n"
  "\n"
  "Files: *\n"
  "Copyright: 2026 The libkorvan_framework_lib developers\n"
  "License: Expat\n"
  "${KVN_LICENSE_TEXT}")
if(KVN_RELEASE_DATE STREQUAL "unreleased")
  string(TIMESTAMP KVN_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
else()
  execute_process(COMMAND date -u -R -d "${KVN_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE KVN_DEB_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
file(WRITE ${KVN_DEB_DIR}/changelog
  "${KVN_DEB_SOURCE} (${PROJECT_VERSION}) unstable; urgency=medium\n"
  "\n"
  "  * Version ${PROJECT_VERSION}: see CHANGELOG.md in ${KVN_DEB_DEV}.\n"
  "\n"
  " -- ${KVN_DEB_MAINTAINER}  ${KVN_DEB_DATE}\n")
execute_process(COMMAND gzip -9nf ${KVN_DEB_DIR}/changelog)
file(WRITE ${KVN_DEB_DIR}/triggers "activate-noawait ldconfig\n")

foreach(part runtime stand_ins dev sim)
  string(TOUPPER ${part} PART)
  install(FILES ${KVN_DEB_DIR}/copyright ${KVN_DEB_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${KVN_DEB_${PART}} COMPONENT ${part} EXCLUDE_FROM_ALL)
endforeach()
# (scripts/build-packages sets CMAKE_INSTALL_DOCDIR to the development package's.)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/docs/linking.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)

# --- The API reference (the Doxyfile's, written into the build tree), for
# --- the development package.
option(KVN_API_DOCS "Build the API reference with doxygen and install it" OFF)
if(KVN_API_DOCS)
  find_program(KVN_DOXYGEN doxygen REQUIRED)
  set(KVN_API_DOCS_DIR ${CMAKE_CURRENT_BINARY_DIR}/api-docs)
  add_custom_command(OUTPUT ${KVN_API_DOCS_DIR}/html/index.html
    COMMAND sh -c "{ cat Doxyfile; echo 'OUTPUT_DIRECTORY = ${KVN_API_DOCS_DIR}'; } | ${KVN_DOXYGEN} -"
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    DEPENDS ${PROJECT_SOURCE_DIR}/Doxyfile ${PROJECT_SOURCE_DIR}/include/korvan_framework_lib.h
      ${PROJECT_SOURCE_DIR}/include/korvan_framework_dev.h ${PROJECT_SOURCE_DIR}/include/korvan_sim_app.h
      ${PROJECT_SOURCE_DIR}/docs/api-mainpage.md
    VERBATIM)
  add_custom_target(kvn_api_docs ALL DEPENDS ${KVN_API_DOCS_DIR}/html/index.html)
  install(DIRECTORY ${KVN_API_DOCS_DIR}/html DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
endif()

# --- CPack
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KVN_DEB_SOURCE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The libkorvan_framework_lib developers")
set(CPACK_PACKAGE_CONTACT ${KVN_DEB_MAINTAINER})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime stand_ins dev sim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${KVN_DEB_SOURCE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KVN_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The stand-ins that the library and the simulator need are built here, not
# installed: dpkg-shlibdeps finds them in the build tree, and the explicit
# dependencies below name their package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_CURRENT_BINARY_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/stand_ins/flash_setting)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(KVN_DEB_EXACT "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${KVN_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${KVN_DEB_STAND_INS} ${KVN_DEB_EXACT} | korvan-platform")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${KVN_DEB_DIR}/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "application framework of the player's user-interface applications
The framework library that the user-interface applications of a networked
media player (browser, media player, photo player, screen saver, flash
player, TV-mode menu) link: the DirectFB display context, the window list
and focus, the remote-control keys that mean the same everywhere (standby,
power-off, TV mode), the TV output modes with their menu, and dialog texts
in 26 languages.
It needs the player's platform libraries; on a development machine the
stand-ins of ${KVN_DEB_STAND_INS} take their place.")

set(CPACK_DEBIAN_STAND_INS_PACKAGE_NAME ${KVN_DEB_STAND_INS})
set(CPACK_DEBIAN_STAND_INS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_STAND_INS_PACKAGE_CONTROL_EXTRA ${KVN_DEB_DIR}/triggers)
set(CPACK_DEBIAN_STAND_INS_DESCRIPTION "player platform stand-ins for libkorvan_framework_lib
Stand-ins, for a development machine, of the media player's platform
libraries that the framework library calls (settings store, dialog
service, output daemon client, screen saver) and of the functions the
player's host process provides, each call traced. A program linked with
them runs on the desk; nothing on a player needs them.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${KVN_DEB_DEV})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "${KVN_DEB_RUNTIME} ${KVN_DEB_EXACT}, ${KVN_DEB_STAND_INS} ${KVN_DEB_EXACT}, libdirectfb-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "${KVN_DEB_SIM}, pkg-config | cmake")
set(CPACK_DEBIAN_DEV_DESCRIPTION "application framework of the player's applications (development)
Headers, pkg-config modules (korvan_framework_lib for the player's link,
korvan_stand_ins added for the desk's), the CMake package
korvan_framework_lib and the API reference of libkorvan_framework_lib, the
application framework of a networked media player's user-interface
applications, and of its platform stand-ins.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME ${KVN_DEB_SIM})
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS
  "${KVN_DEB_RUNTIME} ${KVN_DEB_EXACT}, ${KVN_DEB_STAND_INS} ${KVN_DEB_EXACT}, bubblewrap, fonts-dejavu-core")
set(CPACK_DEBIAN_SIM_PACKAGE_RECOMMENDS ${KVN_DEB_DEV})
set(CPACK_DEBIAN_SIM_DESCRIPTION "media player simulator on libkorvan_framework_lib
korvan-sim runs the player's user-interface applications on the framework
library and real DirectFB, with the platform stand-ins around them, in a
private sandbox (kvn-sandbox, built by bubblewrap) so that a power key never
reaches the machine's real programs. It shows the player live in a window
or a web page driven from the keyboard as from the remote, runs and records
scripts, and
runs an application of your own in place of one of the player's.")

include(CPack)
