# cmake -DIN=file -DOUT=header -DNAME=symbol -P bin2h.cmake: a binary file as a C byte array.
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}.\n#pragma once\nstatic const unsigned char ${NAME}[] = {\n${bytes}\n};\n")
