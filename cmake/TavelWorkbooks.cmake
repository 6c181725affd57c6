# SPDX-License-Identifier: GPL-3.0-or-later
# The workbook libraries: libzip (the archive) and pugixml (its XML) read
# .xlsx and .ods sheets, libxlsxwriter writes the results workbook. Each
# becomes one target to link: tavel::zip, tavel::pugixml, tavel::xlsxwriter.
# They are found by header and library rather than by libzip's CMake
# package, which insists on the command-line tools of libzip-tools. A cross
# build finds the target's copies where Debian's multiarch packages put them
# (libzip-dev:arm64 and so on), through the toolchain file's paths.
function(tavel_find_library target header library)
  string(MAKE_C_IDENTIFIER "${library}" id)
  find_path(TAVEL_${id}_INCLUDE ${header} REQUIRED)
  find_library(TAVEL_${id}_LIBRARY ${library} REQUIRED)
  add_library(${target} UNKNOWN IMPORTED)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${TAVEL_${id}_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${TAVEL_${id}_INCLUDE})
endfunction()

tavel_find_library(tavel::zip zip.h zip)
tavel_find_library(tavel::pugixml pugixml.hpp pugixml)
tavel_find_library(tavel::xlsxwriter xlsxwriter.h xlsxwriter)
