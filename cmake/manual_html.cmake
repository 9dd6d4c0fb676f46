# The manual as one HTML page: mandoc's rendering, with the project's
# stylesheet written into its head so that the page stays one file.
# Set by the caller: MANDOC, MANUAL, STYLESHEET, OS, OUT.
execute_process(COMMAND ${MANDOC} -T html -Ios=${OS} ${MANUAL}
                OUTPUT_VARIABLE html COMMAND_ERROR_IS_FATAL ANY)
file(READ ${STYLESHEET} css)
string(REPLACE "\n</head>\n" "\n  <style>\n${css}  </style>\n</head>\n" html
       "${html}")
file(WRITE ${OUT} "${html}")
