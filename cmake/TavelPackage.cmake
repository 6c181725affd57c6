# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it: the two programs, a desktop entry with the icon, the manual
# page of tavel-batch and the example data.
include(GNUInstallDirs)

install(TARGETS tavel tavel-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES main/tavel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES main/icons/tavel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavel/examples
        FILES_MATCHING PATTERN "*.dat" PATTERN "*.csv")

# Manual pages are installed compressed, as man and Debian expect them.
set(tavel_man ${PROJECT_BINARY_DIR}/main/tavel-batch.1.gz)
add_custom_command(
  OUTPUT ${tavel_man}
  COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${PROJECT_SOURCE_DIR}/main/tavel-batch.1
          ${tavel_man}
  DEPENDS ${PROJECT_SOURCE_DIR}/main/tavel-batch.1
  VERBATIM)
add_custom_target(tavel_manual ALL DEPENDS ${tavel_man})
install(FILES ${tavel_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME tavel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Tavel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "non-parametric multiple regression by alternating conditional expectations")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavel finds the transformations of measured variables that make their\n\
relation linear (ACE), predicts the response on its own scale through the\n\
inverse transformation, reports error statistics and draws a plot per result.\n\
The package holds the desktop program tavel and tavel-batch, which runs the\n\
same analysis from the command line without a display.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)

# The graph fonts are asked for by name, so the packages that provide them are
# dependencies a library scan cannot find. The platform plugins (offscreen,
# xcb) come with libqt6gui6.
set(tavel_fonts "fonts-liberation, fonts-dejavu-core")
find_program(TAVEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAVEL_DPKG_SHLIBDEPS)
  # The libraries the programs link, with the versions they were built against.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${tavel_fonts}")
else()
  set(tavel_libs "libqt6widgets6, libqt6gui6, libqt6core6, libzip4, libpugixml1v5, libxlsxwriter4")
  if(TARGET Qt6::Svg)
    string(APPEND tavel_libs ", libqt6svg6")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${tavel_libs}, libstdc++6, libgcc-s1, libc6, ${tavel_fonts}")
endif()

include(CPack)
