# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=symbol -P embed_text.cmake
# Writes a C++ source defining `extern const char NAME[]` as the file's text.
file(READ ${INPUT} text)
file(WRITE ${OUTPUT}.tmp "extern const char ${NAME}[];\nconst char ${NAME}[] = R\"lumacor(${text})lumacor\";\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
