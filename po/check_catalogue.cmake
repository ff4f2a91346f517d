# cmake -DXGETTEXT=... -DMSGCMP=... -DCATALOGUE=po/ja.po -DTEMPLATE=out.pot -DSOURCES=a;b -P
# Fails when CATALOGUE lacks a translation of a text in SOURCES (a fuzzy or empty one counts
# as missing), or keeps one of a text that is gone.
execute_process(
  COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=Tr --keyword=N_
          -o ${TEMPLATE} ${SOURCES}
  RESULT_VARIABLE extracted)
if(NOT extracted EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
execute_process(COMMAND ${MSGCMP} ${CATALOGUE} ${TEMPLATE} RESULT_VARIABLE translated)
# The other way round, every text of the catalogue must be one of the template's.
execute_process(COMMAND ${MSGCMP} --use-untranslated ${TEMPLATE} ${CATALOGUE}
                RESULT_VARIABLE current)
if(NOT translated EQUAL 0 OR NOT current EQUAL 0)
  message(FATAL_ERROR "${CATALOGUE} is not in step with the runner's texts")
endif()
