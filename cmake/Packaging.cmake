# Installation of the desktop entry and the icon, and the Debian package (`make package`, which
# runs `cpack -G DEB` in the build directory). The programs install themselves: kestrelmap from
# src/platform/qt, kestrel-sim and kestrel-estimate from tools/.
include(GNUInstallDirs)

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
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrelmap shows the position from a GPS receiver and the true bearing from a Doppler\n\
direction finder, both read from one serial line, on a panel of large digits, and writes\n\
every plot of a fox hunt as a bearing line into a KML map for a map viewer. The package\n\
also holds kestrel-sim, an instrument simulator for trying it without hardware, and\n\
kestrel-estimate, which computes the transmitter's position from a hunt's plot log.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrelmap developers <kestrelmap@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION "hamradio")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # kestrelmap_<version>_<arch>.deb
# The window needs Qt's X11 platform plugin, which no library links to, so the dependency
# tools cannot find it; the libraries themselves come from dpkg-shlibdeps where it is
# installed, else from the list below.
find_program(KESTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KESTREL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), \
libqt6serialport6 (>= 6.2), qt6-qpa-plugins, libgeographiclib23, libstdc++6, libc6")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "marble | qgis")

include(CPack)
