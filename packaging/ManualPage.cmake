# A manual page: its template with @MANUAL_SECTIONS@ replaced by what the program prints for
# --manual-sections (the sections made from the tables its --help prints), then gzip -9 -n.
#   cmake -DPROGRAM=… -DTEMPLATE=….1.in -DOUTPUT=….1.gz -P ManualPage.cmake
execute_process(COMMAND "${PROGRAM}" --manual-sections OUTPUT_VARIABLE MANUAL_SECTIONS COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE "\\.gz$" "" _page "${OUTPUT}")
configure_file("${TEMPLATE}" "${_page}" @ONLY)
execute_process(COMMAND gzip -9 -n -f "${_page}" COMMAND_ERROR_IS_FATAL ANY)
