# Writes a Python source file (IN) as a C++ header (OUT) that holds it as one
# raw string literal, python_display_source.
file(READ ${IN} text)
string(FIND "${text}" ")urea_py\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} holds the raw string's delimiter")
endif()
file(WRITE ${OUT} "// Generated from ${IN} by embed_python.cmake: do not edit.\n#pragma once\n"
                  "inline constexpr const char* python_display_source = R\"urea_py(${text})urea_py\";\n")
