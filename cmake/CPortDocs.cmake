# The docs target: the CPort reference (HTML in <build>/docs/html), made by
# Doxygen from the public headers, failing on any warning (an undocumented
# public member among them).
find_program(DOXYGEN doxygen REQUIRED)
set(CPORT_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
list(JOIN CPORT_REFERENCE_HEADERS " " CPORT_DOCS_INPUT)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in
               ${CMAKE_BINARY_DIR}/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND ${DOXYGEN} ${CMAKE_BINARY_DIR}/Doxyfile
  DEPENDS ${CPORT_REFERENCE_HEADERS} ${PROJECT_SOURCE_DIR}/docs/reference.md
  COMMENT "CPort reference"
  VERBATIM)

# The test run makes the reference too (once, on the plain Linux build).
if(DOV_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  add_test(NAME cport_reference
           COMMAND ${DOXYGEN} ${CMAKE_BINARY_DIR}/Doxyfile)
  set_tests_properties(cport_reference PROPERTIES TIMEOUT 300)
endif()
