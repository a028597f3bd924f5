# Turns the raw device program into a C++ source that defines
# dov::FirmwareImage. Run as: cmake -DIMAGE=<bin> -DSIZE=<bytes> -DOUTPUT=<cpp>
# -P embed_image.cmake
file(READ "${IMAGE}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR image_size "${hex_length} / 2")
if(NOT image_size EQUAL SIZE)
  message(FATAL_ERROR
    "${IMAGE} is ${image_size} bytes; the device program must be ${SIZE}")
endif()

# 16 bytes to a line.
set(bytes "")
foreach(offset RANGE 0 ${hex_length} 32)
  string(SUBSTRING "${hex}" ${offset} 32 line)
  if(line)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " line "${line}")
    string(APPEND bytes "    ${line}\n")
  endif()
endforeach()

file(WRITE "${OUTPUT}.tmp"
"// Generated from the device program at build time. Do not edit.
#include \"firmware/firmware_image.h\"

namespace dov {

const std::array<std::uint8_t, kFirmwareImageSize> FirmwareImage = {
${bytes}};

}  // namespace dov
")
# Only touch the output when it changed, so dependants do not rebuild.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
