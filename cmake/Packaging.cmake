# What `cmake --install` puts where, and the two Debian packages that
# `cpack -G DEB` makes from one build. Each package is an install component
# of the same name: markfeed (the station driver, ndxmode, the
# administrator's documentation) and scannersim (the simulator, its deck).
# packaging/build-debs builds them with Debian's hardening flags.

set(pkg_dir ${PROJECT_SOURCE_DIR}/packaging)
set(markfeed_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/markfeed)
set(scannersim_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/scannersim)
# Read below at configure time: an edit configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${pkg_dir}/changelog
             ${pkg_dir}/markfeed.description ${pkg_dir}/scannersim.description)

install(TARGETS markfeed ndxmode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT markfeed)
install(TARGETS scannersim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT scannersim)

install(FILES doc/admin-guide.md DESTINATION ${markfeed_doc} COMPONENT markfeed)
install(FILES
          examples/sample-port.cfg
          examples/services.txt
          examples/ser2net.yaml
          examples/70-scanner.rules
          examples/demo.dlf
          examples/demo.rtp
        DESTINATION ${markfeed_doc}/examples COMPONENT markfeed)
install(FILES scannersim/README.md DESTINATION ${scannersim_doc} COMPONENT scannersim)
# The sample form goes with the deck too: the manual page trains with both.
install(FILES examples/batch.deck examples/demo.dlf examples/demo.rtp
        DESTINATION ${scannersim_doc}/examples COMPONENT scannersim)

# The changelog's newest entry must be this version: a release adds one.
file(READ ${pkg_dir}/changelog changelog)
string(REGEX MATCH "^[^\n]*" changelog_top "${changelog}")
if(NOT changelog_top MATCHES "^scanstation \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with '${changelog_top}': "
                      "add an entry for version ${PROJECT_VERSION}")
endif()

# The copyright file in Debian's machine-readable format, from LICENSE, so
# that the licence is written down once.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*)$")
  message(FATAL_ERROR "LICENSE: no copyright line")
endif()
set(copyright_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" licence_text)
string(REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
string(REPLACE "\n" "\n " licence_text " ${licence_text}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}

Files: *
Copyright: ${copyright_holder}
License: Expat
${licence_text}
")
foreach(package markfeed scannersim)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${pkg_dir}/changelog
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${package})
endforeach()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "the scanner station developers")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PRE_BUILD_SCRIPTS ${pkg_dir}/debian-staging.cmake)
set(CPACK_SCANSTATION_STRIP ${CMAKE_STRIP})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL markfeed scannersim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Scanner Station Developers <station-developers@example.org>")
set(CPACK_DEBIAN_PACKAGE_SOURCE ${PROJECT_NAME})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
foreach(package markfeed scannersim)
  string(TOUPPER ${package} upper)
  file(READ ${pkg_dir}/${package}.description description)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${description}")
endforeach()
set(CPACK_DEBIAN_MARKFEED_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_SCANNERSIM_PACKAGE_SECTION devel)
include(CPack)
