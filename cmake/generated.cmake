# Sources generated at build time. Each block appends to ZARVI_GENERATED_SOURCES
# or writes a header into ZARVI_GEN_DIR.

add_custom_command(
  OUTPUT ${ZARVI_GEN_DIR}/unicode_escape_table.inc
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/gen_unicode_table.py
          ${ZARVI_GEN_DIR}/unicode_escape_table.inc
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/gen_unicode_table.py
  COMMENT "Generating the Unicode escape table")
list(APPEND ZARVI_GENERATED_SOURCES ${ZARVI_GEN_DIR}/unicode_escape_table.inc)

# The built-in spec texts, embedded byte for byte.
set(ZARVI_BUILTIN_DIR ${CMAKE_SOURCE_DIR}/src/zarvi_core/spec/builtin)
set(ZARVI_BUILTIN_TEXTS
    kSpec835=${ZARVI_BUILTIN_DIR}/835_5010.json
    kPatch835_4010=${ZARVI_BUILTIN_DIR}/835_4010_patch.json
    kPatchEdi835Parser=${ZARVI_BUILTIN_DIR}/edi_835_parser_patch.json)
add_custom_command(
  OUTPUT ${ZARVI_GEN_DIR}/builtin_texts.inc
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/embed_texts.py
          ${ZARVI_GEN_DIR}/builtin_texts.inc ${ZARVI_BUILTIN_TEXTS}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/embed_texts.py
          ${ZARVI_BUILTIN_DIR}/835_5010.json
          ${ZARVI_BUILTIN_DIR}/835_4010_patch.json
          ${ZARVI_BUILTIN_DIR}/edi_835_parser_patch.json
  COMMENT "Embedding the built-in spec texts")
list(APPEND ZARVI_GENERATED_SOURCES ${ZARVI_GEN_DIR}/builtin_texts.inc)
