# Debian packages of the installation tree, built with CPack (`./run package`).
#
#   varo-oes           the libraries of the system and the empty sealData store
#   varo-oes-standins  the stand-ins for the outside components: software key,
#                      tool library, services, reader and provisioning tools
#
# A production installation takes varo-oes with the real vendor key library
# and tool library in place of the stand-ins. The install() rules of the
# components name their package with COMPONENT oes or COMPONENT standins; the
# files below (documentation, lintian overrides, the systemd unit) lie outside
# the installation root, so they are EXCLUDE_FROM_ALL: only the packages carry
# them, never a plain `cmake --install`.
#
# varo-oes has one maintainer script, its postinst: it creates the system
# group varo and gives sealData the owner root:varo and the mode 3775, so
# that every member of the group (the users of the reader) keeps seal
# copies and lists there and none can replace another's. dpkg cannot do
# this from the package's files: the group does not exist before the
# package is configured, and dpkg never changes a directory that exists
# already (an upgrade from a package that had another mode).

set(VARO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VARO_PACKAGING_OUT ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(VARO_PACKAGE_MAINTAINER "Varo developers <varo-dev@varo.example>" CACHE STRING
    "Maintainer field of the Debian packages")

# The version is the one of the newest changelog entry.
file(STRINGS ${VARO_PACKAGING_DIR}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^varo-oes \\(([0-9][^)]*)\\)")
  message(FATAL_ERROR "packaging/changelog: no version in its first line")
endif()
set(VARO_PACKAGE_VERSION ${CMAKE_MATCH_1})

# Debian wants the changelog compressed with the highest level and no time stamp.
set(changelog_gz ${VARO_PACKAGING_OUT}/changelog.gz)
file(MAKE_DIRECTORY ${VARO_PACKAGING_OUT})
execute_process(COMMAND gzip -9nc ${VARO_PACKAGING_DIR}/changelog
                OUTPUT_FILE ${changelog_gz} RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip of packaging/changelog failed")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VARO_PACKAGING_DIR}/changelog)

# The unit, the notes and the lintian overrides name the installation root.
string(REGEX REPLACE "^/" "" VARO_INSTALL_TREE "${VARO_INSTALL_ROOT}")
foreach(name varo-signd@.service varo-oes.README.Debian lintian/varo-oes
             lintian/varo-oes-standins)
  configure_file(${VARO_PACKAGING_DIR}/${name}.in
                 ${VARO_PACKAGING_OUT}/${name} @ONLY)
endforeach()

configure_file(${VARO_PACKAGING_DIR}/maintainer/varo-oes.postinst.in
               ${VARO_PACKAGING_OUT}/varo-oes/postinst @ONLY)

# The stand-ins' maintainer scripts: the vendor's files at the two paths the
# stand-ins take are diverted (preinst) and given back (postrm); instances of
# the unit are stopped and disabled on removal (prerm, postrm).
set(VARO_VENDOR_FILES
    "${VARO_INSTALL_ROOT}/VaroSupport/VaroCardSupport/LMKJ/GM3000_QX/libk5.1.0.so"
    "${VARO_INSTALL_ROOT}/VaroSupport/VaroCommon/ToolBench.so")
list(JOIN VARO_VENDOR_FILES " " VARO_VENDOR_FILES)
set(standins_scripts)
foreach(script preinst postinst prerm postrm)
  configure_file(${VARO_PACKAGING_DIR}/maintainer/varo-oes-standins.${script}.in
                 ${VARO_PACKAGING_OUT}/varo-oes-standins/${script} @ONLY)
  list(APPEND standins_scripts ${VARO_PACKAGING_OUT}/varo-oes-standins/${script})
endforeach()

# The integrator's guide, as shipped. Its "first seal" commands (the fenced
# block marked first-seal, which the package test runs from the installed
# guide) name the package's root, and go into the stand-ins' README.Debian.
set(guide ${CMAKE_CURRENT_SOURCE_DIR}/docs/integration.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${guide})
file(READ ${guide} guide_text)
set(block_marker "\n```sh first-seal\n")
string(FIND "${guide_text}" "${block_marker}" block_start)
if(block_start LESS 0)
  message(FATAL_ERROR "docs/integration.md: no block of first-seal commands")
endif()
string(LENGTH "${block_marker}" marker_length)
math(EXPR block_start "${block_start} + ${marker_length}")
string(SUBSTRING "${guide_text}" 0 ${block_start} guide_head)
string(SUBSTRING "${guide_text}" ${block_start} -1 guide_tail)
string(FIND "${guide_tail}" "\n```" block_length)
string(SUBSTRING "${guide_tail}" 0 ${block_length} first_seal)
string(SUBSTRING "${guide_tail}" ${block_length} -1 guide_tail)
string(REPLACE "/opt/varo/" "${VARO_INSTALL_ROOT}/" first_seal "${first_seal}")
file(WRITE ${VARO_PACKAGING_OUT}/integration.md "${guide_head}${first_seal}${guide_tail}")
string(REPLACE "\n" "\n  " VARO_FIRST_SEAL "  ${first_seal}")
configure_file(${VARO_PACKAGING_DIR}/README.Debian.in ${VARO_PACKAGING_OUT}/README.Debian @ONLY)

foreach(component oes standins)
  if(component STREQUAL "oes")
    set(package varo-oes)
  else()
    set(package varo-oes-standins)
  endif()
  install(FILES ${VARO_PACKAGING_DIR}/copyright ${changelog_gz}
          DESTINATION /usr/share/doc/${package}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES ${VARO_PACKAGING_OUT}/lintian/${package}
          DESTINATION /usr/share/lintian/overrides
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${VARO_PACKAGING_OUT}/varo-oes.README.Debian
        DESTINATION /usr/share/doc/varo-oes RENAME README.Debian
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT oes EXCLUDE_FROM_ALL)
install(FILES ${VARO_PACKAGING_OUT}/README.Debian
        DESTINATION /usr/share/doc/varo-oes-standins
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT standins EXCLUDE_FROM_ALL)
install(FILES ${VARO_PACKAGING_OUT}/integration.md
        DESTINATION /usr/share/doc/varo-oes
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT oes EXCLUDE_FROM_ALL)
foreach(standin softkey toolbench service sealserver reader ofd sealmaker)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/sim/${standin}/README.md
          DESTINATION /usr/share/doc/varo-oes-standins/${standin}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          COMPONENT standins EXCLUDE_FROM_ALL)
endforeach()
install(PROGRAMS ${CMAKE_CURRENT_SOURCE_DIR}/sim/demo/demo.sh
        DESTINATION /usr/share/doc/varo-oes-standins/examples/demo
        COMPONENT standins EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/sim/demo/provision.sh
              ${CMAKE_CURRENT_SOURCE_DIR}/sim/demo/services.sh
              ${CMAKE_CURRENT_SOURCE_DIR}/sim/demo/steps.sh
        DESTINATION /usr/share/doc/varo-oes-standins/examples/demo
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT standins EXCLUDE_FROM_ALL)
install(FILES ${VARO_PACKAGING_OUT}/varo-signd@.service
        DESTINATION /lib/systemd/system
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT standins EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varo-oes)
set(CPACK_PACKAGE_VENDOR "Varo developers")
set(CPACK_PACKAGE_VERSION ${VARO_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${VARO_INSTALL_ROOT})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL oes standins)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps reads the libraries' needs (Qt 5 Core, OpenSSL 3, the C++
# run time); none of our files links another of ours, so the private
# directories under the root need no search path.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_OES_PACKAGE_NAME varo-oes)
set(CPACK_DEBIAN_OES_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_OES_PACKAGE_SUGGESTS varo-oes-standins)
# The postinst's addgroup; dpkg-shlibdeps adds the libraries' needs.
set(CPACK_DEBIAN_OES_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_OES_PACKAGE_CONTROL_EXTRA ${VARO_PACKAGING_OUT}/varo-oes/postinst)
set(CPACK_DEBIAN_OES_DESCRIPTION
"electronic-seal provider for OFD document readers
The provider library liboesprovider.so that a fixed-layout (OFD) document
reader loads to list the seals a user may apply, sign a document digest
with a seal on the user's USB key (SM2 with SM3) and verify seal signatures
(GM/T 0031 SES structures).

Also included are the libraries the provider loads at run time: the seal
codec, the key signing module, the GM3000 key device driver and the
seal-list and key-information plug-ins, installed under ${VARO_INSTALL_ROOT},
the path compiled into them. The vendor's key library and the common tool
library are not included: install the vendor's, or varo-oes-standins on a
machine without a USB key.

The driver's local seal store ${VARO_INSTALL_ROOT}/sealData belongs to the
system group varo, made on installation: add each user of the reader to it
(adduser USER varo).")

set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME varo-oes-standins)
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_STANDINS_PACKAGE_DEPENDS "varo-oes (= ${VARO_PACKAGE_VERSION})")
set(CPACK_DEBIAN_STANDINS_PACKAGE_CONTROL_EXTRA ${standins_scripts})
set(CPACK_DEBIAN_STANDINS_DESCRIPTION
"stand-ins for running the Varo seal provider without a USB key
The components outside the seal provider, in software, for development,
demonstrations and tests:
 - a software key in place of the vendor's key library;
 - the common tool library;
 - varo-signd, the local signing service (with a systemd unit, not enabled);
 - varo-sealserver, a seal server for the online seal list;
 - oes-reader, a command-line stand-in for the document reader;
 - softkey and sealmaker, to provision keys and make seals.
A production installation uses the vendor's key library and tool library
instead of this package.")

include(CPack)
