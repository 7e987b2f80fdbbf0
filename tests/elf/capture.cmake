# Runs TOOL with OPTIONS on INPUT and writes what it prints to OUTPUT (a portable "> file").
separate_arguments(options UNIX_COMMAND "${OPTIONS}")
execute_process(COMMAND ${TOOL} ${options} ${INPUT} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "${TOOL} ${OPTIONS} ${INPUT} failed: ${status}")
endif()
