# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it: the two programs, a desktop entry with the icon, AppStream
# metadata, both manual pages, the copyright and changelog Debian asks for
# and the example data.
include(GNUInstallDirs)

# The software centres' name of the program. The project has no domain of its
# own yet, so the reverse-DNS id starts with localhost, as the contact
# address does; changing it later needs a <replaces> in the metainfo.
set(TAVEL_APPSTREAM_ID localhost.tavel.Tavel)
# The date of the release project(VERSION) names; change the two together.
set(TAVEL_RELEASE_DATE 2026-12-09)
# The Debian revision of the package of that release.
set(TAVEL_DEBIAN_REVISION 1)
# A published picture of the program for software centres (https URL); the
# metainfo has no screenshot until there is one to point at.
set(TAVEL_SCREENSHOT_URL "" CACHE STRING "https URL of a screenshot for the AppStream metadata")

install(TARGETS tavel tavel-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Debian's programs have no .comment section (the versions of the compilers
# that made them); strip keeps it, so it goes after the strip.
string(CONFIGURE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program tavel tavel-batch)
      execute_process(COMMAND "@CMAKE_OBJCOPY@" --remove-section=.comment
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/${program}"
                      RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "objcopy could not remove the .comment section of ${program}")
      endif()
    endforeach()
  endif()
]] tavel_remove_comment @ONLY)
install(CODE "${tavel_remove_comment}")
install(FILES main/tavel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES main/icons/tavel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavel/examples
        FILES_MATCHING PATTERN "*.dat" PATTERN "*.csv")

if(TAVEL_SCREENSHOT_URL)
  set(TAVEL_SCREENSHOTS "  <screenshots>
    <screenshot type=\"default\">
      <caption>The report and the plots of a run</caption>
      <image>${TAVEL_SCREENSHOT_URL}</image>
    </screenshot>
  </screenshots>
")
else()
  set(TAVEL_SCREENSHOTS "")
endif()
set(tavel_metainfo ${PROJECT_BINARY_DIR}/packaging/${TAVEL_APPSTREAM_ID}.metainfo.xml)
configure_file(packaging/tavel.metainfo.xml.in ${tavel_metainfo} @ONLY)
install(FILES ${tavel_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the changelog are installed compressed, as man and Debian
# expect them; the manual pages say the version of the build.
set(tavel_compressed)
foreach(page tavel tavel-batch)
  configure_file(main/${page}.1 ${PROJECT_BINARY_DIR}/main/${page}.1 @ONLY)
endforeach()
foreach(source main/tavel.1 main/tavel-batch.1 packaging/changelog.Debian)
  get_filename_component(name ${source} NAME)
  if(source MATCHES "^main/")
    set(input ${PROJECT_BINARY_DIR}/${source})
  else()
    set(input ${PROJECT_SOURCE_DIR}/${source})
  endif()
  set(output ${PROJECT_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${input} ${output}
    DEPENDS ${input}
    VERBATIM)
  list(APPEND tavel_compressed ${output})
endforeach()
add_custom_target(tavel_manual ALL DEPENDS ${tavel_compressed})
install(FILES ${PROJECT_BINARY_DIR}/packaging/tavel.1.gz
              ${PROJECT_BINARY_DIR}/packaging/tavel-batch.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavel)
install(FILES packaging/tavel.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tavel)

set(CPACK_PACKAGE_NAME tavel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TAVEL_DEBIAN_REVISION})
# A placeholder until the project has an address of its own (README).
set(CPACK_PACKAGE_CONTACT "Tavel developers <tavel@localhost>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tavel developers <tavel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "non-parametric multiple regression by alternating conditional expectations")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavel finds the transformations of measured variables that make their\n\
relation linear (ACE, alternating conditional expectations), predicts the\n\
response on its own scale through the inverse transformation, reports error\n\
statistics and draws a plot per result, which can be saved as a picture.\n\
Data come from text or CSV files of named columns; every variable may be\n\
orderable, circular, monotone, linear or unorderable (a category). A run\n\
writes a log and tab-separated spreadsheets; a fitted model can be saved as\n\
JSON, applied to new data and cross-validated.\n\
.\n\
The package holds the desktop program tavel, which opens data files from a\n\
file manager, and tavel-batch, which runs the same analysis from the command\n\
line without a display, for scripts and servers.")
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
