# Build step: refuses a package that cannot be embedded, and writes the assembly that places both
# packages in the image's read-only data, English first, behind their SHA-256 digests, which the
# program checks before it uses a package's bytes. Inputs: EN, TR (the packages), OUTPUT (the .S).
set(payload_size 14065664)
set(digests "")
foreach(file IN ITEMS "${EN}" "${TR}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file}: package not found")
  endif()
  file(SIZE "${file}" size)
  if(NOT size EQUAL payload_size)
    message(FATAL_ERROR "${file}: ${size} bytes; an embedded package must be exactly ${payload_size} bytes")
  endif()
  file(READ "${file}" signature LIMIT 8 HEX)
  if(NOT signature STREQUAL "d0cf11e0a1b11ae1")
    message(FATAL_ERROR "${file}: no compound file signature (D0 CF 11 E0 A1 B1 1A E1); not a Windows Installer package")
  endif()
  file(SHA256 "${file}" digest)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${digest}")
  string(REGEX REPLACE ",$" "" bytes "${bytes}")
  string(APPEND digests "    .byte ${bytes}\n")
endforeach()

file(WRITE "${OUTPUT}.tmp" "/* Generated: the two embedded installer packages and their SHA-256 digests, English first. */
    .section .rdata,\"dr\"
    .balign 16
    .globl mirel_payload_digests
mirel_payload_digests:
${digests}    .balign 16
    .globl mirel_payload_data
mirel_payload_data:
    .incbin \"${EN}\"
    .incbin \"${TR}\"
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
