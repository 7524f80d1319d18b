# Turns a text file into a C++ source holding it as a string constant.
#   cmake -DINPUT=... -DOUTPUT=... -DNAME=... -P embed.cmake
file(READ "${INPUT}" text)
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\nextern const char ${NAME}[];\nconst char ${NAME}[] = R\"rgs(${text})rgs\";\n")
