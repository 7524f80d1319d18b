# Writes INPUT's bytes as a C++ array NAMESPACE::SYMBOL (script mode, see EmbedFile.cmake).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT}; do not edit.\n"
    "namespace ${NAMESPACE} {\n"
    "extern const unsigned char ${SYMBOL}[];\n"
    "extern const int ${SYMBOL}Size;\n"
    "const unsigned char ${SYMBOL}[] = {\n    ${bytes}\n};\n"
    "const int ${SYMBOL}Size = ${size};\n"
    "} // namespace ${NAMESPACE}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
