# Installation of the desktop entry, the icon, the manual pages and the package documents, and
# the Debian package (`make package`, which runs `cpack -G DEB` in the build directory). The
# programs install themselves: kestrelmap from src/platform/qt, the tools from tools/.
include(GNUInstallDirs)
set(KESTREL_PACKAGE_MAINTAINER "Kestrelmap maintainers <maintainers@kestrelmap.org>")

# The changelog's newest entry must name the version being packaged.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^kestrelmap \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with '${changelog_top}': add an entry for "
                      "version ${PROJECT_VERSION} at its top")
endif()

# The manual pages of the programs this tree builds and the changelog, compressed as Debian
# wants them (gzip -9, no name or time stamp inside, so the package is reproducible).
set(KESTREL_MAN_PAGES "")
foreach(program kestrelmap kestrel-sim kestrel-estimate)
  if(TARGET ${program})
    list(APPEND KESTREL_MAN_PAGES ${program})
  endif()
endforeach()
set(doc_dir ${CMAKE_BINARY_DIR}/packaging)
set(compressed "")
foreach(source IN LISTS KESTREL_MAN_PAGES ITEMS changelog)
  if(source STREQUAL "changelog")
    set(input ${PROJECT_SOURCE_DIR}/packaging/changelog)
    set(output ${doc_dir}/changelog)
  else()
    set(input ${PROJECT_SOURCE_DIR}/packaging/man/${source}.1)
    set(output ${doc_dir}/${source}.1)
  endif()
  add_custom_command(OUTPUT ${output}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${input} ${output}
    COMMAND gzip -9nf ${output}
    DEPENDS ${input} VERBATIM)
  list(APPEND compressed ${output}.gz)
endforeach()
add_custom_target(kestrel_package_documents ALL DEPENDS ${compressed})
list(TRANSFORM KESTREL_MAN_PAGES PREPEND ${doc_dir}/ OUTPUT_VARIABLE man_files)
list(TRANSFORM man_files APPEND .1.gz)
install(FILES ${man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# A stripped install (the package's) also drops the compiler's notes, as Debian's own do.
list(TRANSFORM KESTREL_MAN_PAGES PREPEND "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/"
     OUTPUT_VARIABLE installed_programs)
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program ${installed_programs})
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              --remove-section=.note \"\${program}\")
    endforeach()
  endif()")
install(FILES ${doc_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrelmap)

# The package's one lintian override: kestrel-estimate's "lon" is the longitude column's name.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/kestrelmap
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrelmap.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrelmap.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/screenshot.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrelmap OPTIONAL)

set(CPACK_PACKAGE_NAME "kestrelmap")
set(CPACK_PACKAGE_VENDOR "Kestrelmap developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "radio direction-finding plotter for GPS and Doppler direction finder")
# Lines of at most 80 characters, as dpkg shows them on a terminal.
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrelmap shows the position from a GPS receiver and the true bearing\n\
from a Doppler direction finder (on one shared serial line, on ports of\n\
their own, or the GPS through gpsd) on a panel of large digits, writes every\n\
plot of a fox hunt as a bearing line into a KML map for a map viewer,\n\
estimates where the transmitter is and shares plots with a team through an\n\
MQTT broker. The package also holds kestrel-sim, an instrument simulator\n\
for trying it without hardware, and kestrel-estimate, which computes the\n\
transmitter's position from a hunt's plot log.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "hamradio")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # kestrelmap_<version>_<arch>.deb
# The window needs Qt's X11 platform plugin, which no library links to, so the dependency
# tools cannot find it, and the live map page loads Debian's Leaflet from where that package
# installs it; the libraries themselves come from dpkg-shlibdeps where it is installed, else
# from the list below.
find_program(KESTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KESTREL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libjs-leaflet")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), \
libqt6serialport6 (>= 6.2), libqt6network6 (>= 6.2), libqt6websockets6 (>= 6.2), \
libsqlite3-0, libqrencode4, qt6-qpa-plugins, libjs-leaflet, libgeographiclib23, libstdc++6, libc6")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "marble | qgis")

include(CPack)

if(KESTREL_TESTS)
  include(${PROJECT_SOURCE_DIR}/tests/package/package_tests.cmake)
endif()
