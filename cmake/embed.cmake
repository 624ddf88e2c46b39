# Writes a C++ source that defines a text file's contents as a character
# array. Usage: cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=ns::kName -P embed.cmake
file(READ "${INPUT}" content HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
string(REGEX MATCH "^(.*)::([^:]+)$" _ "${NAME}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; edit that file instead.\nnamespace ${CMAKE_MATCH_1} {\nextern const char ${CMAKE_MATCH_2}[];\nconst char ${CMAKE_MATCH_2}[] = {\n${bytes}0x00};\n}\n")
