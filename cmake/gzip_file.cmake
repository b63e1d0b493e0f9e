# cmake -DIN=FILE -DOUT=FILE.gz -P gzip_file.cmake
# The best compression, without the file's name and time in the header.
execute_process(COMMAND gzip -9 -n -c "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE failed)
if(failed)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "gzip ${IN}: ${failed}")
endif()
