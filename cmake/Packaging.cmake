# What `cmake --install` puts where. debian/rules builds the Debian packages
# through these rules (dh's cmake build system), and debian/*.install splits
# the result: markfeed (the station driver, ndxmode, the administrator's
# documentation) and scannersim (the simulator, its deck). Each package is
# also an install component of the same name, for `cmake --install
# --component`.

set(markfeed_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/markfeed)
set(scannersim_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/scannersim)

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

# debian/ holds two things that are written down elsewhere too; a build
# with either out of step stops here, before anything is compiled.
set(debian_dir ${PROJECT_SOURCE_DIR}/debian)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${debian_dir}/changelog ${debian_dir}/copyright)

# The packages' version is the changelog's newest entry: a release adds an
# entry and changes project() with it.
file(READ ${debian_dir}/changelog changelog LIMIT 200)
string(REGEX MATCH "^[^\n]*" changelog_top "${changelog}")
if(NOT changelog_top MATCHES "^scanstation \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog begins with '${changelog_top}', but project() "
                      "says version ${PROJECT_VERSION}: the two must name the same version")
endif()

# The copyright file in Debian's machine-readable format must say what
# LICENSE says, which stays the one text to edit.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*)$")
  message(FATAL_ERROR "LICENSE: no copyright line")
endif()
set(copyright_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" licence_text)
string(REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
string(REPLACE "\n" "\n " licence_text " ${licence_text}")
set(copyright_expected
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}

Files: *
Copyright: ${copyright_holder}
License: Expat
${licence_text}
")
file(READ ${debian_dir}/copyright copyright)
if(NOT copyright STREQUAL copyright_expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright.expected "${copyright_expected}")
  message(FATAL_ERROR "debian/copyright does not say what LICENSE says; it should read as "
                      "${CMAKE_CURRENT_BINARY_DIR}/copyright.expected")
endif()
