# Run as a script: cmake -DNAME=... -DINPUT=... -DOUTPUT=... -P EmbedFile.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
# Lines of 24 bytes, for a header a compiler reads quickly.
string(REGEX REPLACE "((('\\\\x[0-9a-f][0-9a-f]',)){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp "#pragma once\n// Made at build time from ${INPUT}: do not edit.\n#include <string_view>\n"
     "namespace umbrascope::embedded {\ninline constexpr char ${NAME}_bytes[] = {\n${bytes}\n'\\0'};\n"
     "inline constexpr std::string_view ${NAME}{${NAME}_bytes, ${size}};\n}  // namespace umbrascope::embedded\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
