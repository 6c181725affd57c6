# SPDX-License-Identifier: GPL-3.0-or-later
# Writes OUTPUT, a C++ source that holds the README's user section (from its
# "## Using the program" heading to the next "## " heading) as the text of
# the program's Help window, so the two cannot say different things.
#   cmake -DREADME=... -DOUTPUT=... -P EmbedUserGuide.cmake
file(READ "${README}" readme)
string(FIND "${readme}" "\n## Using the program\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no \"## Using the program\" section")
endif()
math(EXPR start "${start} + 1")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(LENGTH "## Using the program\n" heading)
string(SUBSTRING "${rest}" ${heading} -1 body)
string(FIND "${body}" "\n## " end)
if(NOT end EQUAL -1)
  math(EXPR end "${end} + 1")
  string(SUBSTRING "${body}" 0 ${end} body)
endif()
string(FIND "${body}" ")tavelguide\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the user section holds the text that ends the embedded string")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from README.md by cmake/EmbedUserGuide.cmake; edit the README.\n"
  "#include \"app/user_guide.h\"\n\n"
  "namespace tavel::app {\n\n"
  "std::string_view userGuide() {\n"
  "  return R\"tavelguide(# Using the program\n${body})tavelguide\";\n"
  "}\n\n"
  "}  // namespace tavel::app\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
