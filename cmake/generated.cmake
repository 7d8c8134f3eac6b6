# Sources generated at build time. Each block appends to ZARVI_GENERATED_SOURCES
# or writes a header into ZARVI_GEN_DIR.

add_custom_command(
  OUTPUT ${ZARVI_GEN_DIR}/unicode_escape_table.inc
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/gen_unicode_table.py
          ${ZARVI_GEN_DIR}/unicode_escape_table.inc
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/gen_unicode_table.py
  COMMENT "Generating the Unicode escape table")
list(APPEND ZARVI_GENERATED_SOURCES ${ZARVI_GEN_DIR}/unicode_escape_table.inc)
