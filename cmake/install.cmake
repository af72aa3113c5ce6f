# What a host needs, installed: the front end's libraries and headers, the
# platform pieces, CMake package files (find_package(Zelvar_Core)), a
# pkg-config file, and the bench program with its desktop entry. No tests,
# no benchmarks. `cpack -G DEB` makes the Debian package of the same.
include(CMakePackageConfigHelpers)

set(ZELVAR_LIBRARIES fennick tolmar prenna vandry haskel drumlo delegates interactors plotwidget
                     intctrl)
set(ZELVAR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zelvar_Core)
set(ZELVAR_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zelvar-core)  # as the package is named

install(TARGETS ${ZELVAR_LIBRARIES} zelvar_host zelvar_host_records
        EXPORT Zelvar_CoreTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY Zelvar_Core/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Zelvar_Core
        FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_BINARY_DIR}/include/Zelvar_Core/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Zelvar_Core)
install(FILES platform/plot/plot_canvas.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform/plot)
install(FILES platform/intctrl/int_ctrl.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform/intctrl)

install(EXPORT Zelvar_CoreTargets NAMESPACE Zelvar_Core:: DESTINATION ${ZELVAR_CMAKE_DIR})
configure_package_config_file(cmake/Zelvar_CoreConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/Zelvar_CoreConfig.cmake
                              INSTALL_DESTINATION ${ZELVAR_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/Zelvar_CoreConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/Zelvar_CoreConfig.cmake
              ${CMAKE_BINARY_DIR}/Zelvar_CoreConfigVersion.cmake
        DESTINATION ${ZELVAR_CMAKE_DIR})

# pkg-config: the toolkit has none of its own, so its flags are written in.
list(JOIN wxWidgets_INCLUDE_DIRS " -I" ZELVAR_WX_INCLUDES)
list(TRANSFORM wxWidgets_DEFINITIONS PREPEND "-D" OUTPUT_VARIABLE ZELVAR_WX_DEFINES)
list(JOIN ZELVAR_WX_DEFINES " " ZELVAR_WX_DEFINES)
list(JOIN wxWidgets_LIBRARIES " " ZELVAR_WX_LIBS)
set(ZELVAR_WX_CFLAGS "-I${ZELVAR_WX_INCLUDES} ${ZELVAR_WX_DEFINES}")
configure_file(cmake/zelvar_core.pc.in ${CMAKE_BINARY_DIR}/zelvar_core.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zelvar_core.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The bench program, as a desktop program.
install(TARGETS pravel pravel-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS pravel_remote_board pravel_hdf5_export pravel_postgres_results
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/zelvar-core
                PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The protocol's contract, for a board team to check their server against.
install(TARGETS pravel-board-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The board protocol, for a board team's server or a script's client.
install(FILES proto/zelvar/board/v1/board.proto
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zelvar-core/proto/zelvar/board/v1)
install(FILES packaging/pravel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/pravel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The example sequences with the sample bitstream the smoke test programs:
# they run where they are installed (their paths are their folder's).
install(FILES sequences/smoke_test.json sequences/threshold_sweep.json sequences/README.md
        DESTINATION ${ZELVAR_DOC_DIR}/sequences)
install(FILES sequences/bits/aer640_sample.bit DESTINATION ${ZELVAR_DOC_DIR}/sequences/bits)

# Documents as Debian wants them: compressed, with the copyright beside.
set(ZELVAR_DOCS ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${ZELVAR_DOCS})
foreach(document pravel.1 pravel-board.1 pravel-board-check.1 changelog)
  add_custom_command(
    OUTPUT ${ZELVAR_DOCS}/${document}.gz
    COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/${document} > ${ZELVAR_DOCS}/${document}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${document})
endforeach()
add_custom_target(packaging_documents ALL DEPENDS ${ZELVAR_DOCS}/pravel.1.gz
                                                  ${ZELVAR_DOCS}/pravel-board.1.gz
                                                  ${ZELVAR_DOCS}/pravel-board-check.1.gz
                                                  ${ZELVAR_DOCS}/changelog.gz)
install(FILES ${ZELVAR_DOCS}/pravel.1.gz ${ZELVAR_DOCS}/pravel-board.1.gz
              ${ZELVAR_DOCS}/pravel-board-check.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZELVAR_DOCS}/changelog.gz DESTINATION ${ZELVAR_DOC_DIR}
        RENAME changelog.Debian.gz)
install(FILES packaging/copyright DESTINATION ${ZELVAR_DOC_DIR})
# What a board team reads to write their server and check it.
install(FILES docs/board-protocol.md DESTINATION ${ZELVAR_DOC_DIR})

# The Debian package: one .deb whose dependencies dpkg-shlibdeps reads off
# the binaries. Its shlibs and ldconfig trigger are written here: CPack's
# own would call ldconfig from maintainer scripts, which Debian no longer
# wants.
set(ZELVAR_SHLIBS "")
foreach(library ${ZELVAR_LIBRARIES})
  string(APPEND ZELVAR_SHLIBS
         "lib${library} ${PROJECT_VERSION_MAJOR} zelvar-core (>= ${PROJECT_VERSION})\n")
endforeach()
file(WRITE ${ZELVAR_DOCS}/shlibs "${ZELVAR_SHLIBS}")
file(WRITE ${ZELVAR_DOCS}/triggers "activate-noawait ldconfig\n")
set(CPACK_PACKAGE_NAME zelvar-core)
set(CPACK_PACKAGE_VENDOR "Zelvar Labs")
set(CPACK_PACKAGE_CONTACT "Zelvar Labs bench team <bench@zelvar-labs.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "AER sensor test bench front end and bench program")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zelvar_Core is the graphical front end of a test bench for an event-based
image sensor (address-event representation) on an FPGA board: shared
libraries, headers and CMake and pkg-config files for hosts that build on
it, and pravel, the bench program with a simulated sensor board. Pravel
streams and records events, programs bitstreams, edits registers and DACs,
plots the board's ADC channels, and runs parameter sweeps and test
sequences, also unattended.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zelvar-labs.org/zelvar-core")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
# postinst and postrm are named but not written: CPack then adds no scripts
# of its own (they would call ldconfig, which the trigger does) and says
# that it found no such files.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${ZELVAR_DOCS}/shlibs;${ZELVAR_DOCS}/triggers;${ZELVAR_DOCS}/postinst;${ZELVAR_DOCS}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
