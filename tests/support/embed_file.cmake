# Embeds a file into a target as a constant byte array, the same way for the native and the
# MinGW builds: at build time the file is read as hex and written out as a C++ source, so a
# changed file is picked up by the next build.
#
#   tavi_embed_file(target FILE path SYMBOL name)
# defines   extern const uint8_t name[];  extern const size_t nameSize;
# (the array holds one zero byte more when the file is empty, so it is never of size zero).
#
# Run with -P, the same file is the generator: -DINPUT=... -DOUTPUT=... -DSYMBOL=...

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  if(size EQUAL 0)
    set(bytes "0x00,")
  else()
    # 32 bytes to a line, so that a compiler message about the file stays readable.
    string(REGEX REPLACE "(................................................................)"
                         "\\1\n" hex "${hex}")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  endif()
  file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT} by tests/support/embed_file.cmake: do not edit.\n"
    "#include <cstddef>\n#include <cstdint>\n\n"
    "extern const uint8_t ${SYMBOL}[];\nextern const size_t ${SYMBOL}Size;\n\n"
    "const uint8_t ${SYMBOL}[] = {\n${bytes}\n};\n"
    "const size_t ${SYMBOL}Size = ${size};\n")
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
  return()
endif()

function(tavi_embed_file target)
  cmake_parse_arguments(E "" "FILE;SYMBOL" "" ${ARGN})
  if(NOT E_FILE OR NOT E_SYMBOL)
    message(FATAL_ERROR "tavi_embed_file(${target}) needs FILE and SYMBOL")
  endif()
  if(NOT EXISTS "${E_FILE}")
    message(FATAL_ERROR "tavi_embed_file(${target}): no file ${E_FILE}")
  endif()
  set(out "${CMAKE_CURRENT_BINARY_DIR}/embedded_${E_SYMBOL}.cpp")
  add_custom_command(OUTPUT "${out}"
    COMMAND "${CMAKE_COMMAND}" "-DINPUT=${E_FILE}" "-DOUTPUT=${out}" "-DSYMBOL=${E_SYMBOL}"
            -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    DEPENDS "${E_FILE}" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    COMMENT "Embedding ${E_FILE} as ${E_SYMBOL}"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()
