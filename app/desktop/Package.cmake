# The Debian package: everything `cmake --install` puts under /usr, plus the copyright file
# and the change log Debian wants in /usr/share/doc/dual-slider. scripts/package builds it
# with `cpack -G DEB` and checks it with lintian.
include(GNUInstallDirs)
find_program(DS_GZIP gzip REQUIRED)

set(DS_DEB_MAINTAINER "Dual Slider maintainers <maintainers@dualslider.invalid>"
    CACHE STRING "Maintainer field of the Debian package: Name <address>")

set(ds_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/dual-slider)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${ds_docdir})
# Compressed without name or time stamp, like the manual pages, so packages are reproducible.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog)
execute_process(COMMAND ${DS_GZIP} -n -9 -c ${CMAKE_CURRENT_LIST_DIR}/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${ds_docdir})

# The newest change log entry must be the version being packaged.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog ds_changelog_top LIMIT_COUNT 1)
if(NOT ds_changelog_top MATCHES "^dual-slider \\(${PROJECT_VERSION}\\) ")
    message(WARNING "app/desktop/changelog does not start with an entry for version "
                    "${PROJECT_VERSION}; add one before packaging")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dual-slider)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped in the staging folder rather than with CPACK_STRIP_FILES, which leaves sections
# Debian's tools remove.
set(CPACK_DS_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-strip.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "control panel with two gain faders for an audio routing switcher")
# Lines of the extended description stay within 80 columns for Debian's tools.
set(CPACK_PACKAGE_DESCRIPTION
    "Dual Slider sets gains of an audio routing switcher over TCP. Its window
shows two faders, each bound to one switcher channel, for input gains, output
gains or the crosspoint gains of one output. Moving a fader sends a set-gain
command at once; a moment after the last movement both faders fall back to
the gains the switcher reports.

The package also contains switcher-sim, a console switcher simulator for
trying the panel without hardware.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DS_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt libraries come from dpkg-shlibdeps; the platform plugins that open a window are
# loaded at run time, so no library link names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)

include(CPack)
