# Refuses to embed a firmware image that cannot travel in 16-bit TFTP block numbers.
set(limit 33553920)
if(NOT EXISTS "${IMAGE}")
  message(FATAL_ERROR "Firmware image ${IMAGE} does not exist")
endif()
file(SIZE "${IMAGE}" size)
if(size GREATER_EQUAL limit)
  message(FATAL_ERROR "Firmware image ${IMAGE} is ${size} bytes; an image must be smaller than "
                      "${limit} bytes (65,535 TFTP blocks of 512 bytes)")
endif()
file(WRITE "${STAMP}" "${size}\n")
