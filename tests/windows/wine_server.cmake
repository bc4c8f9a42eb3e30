# One wineserver for every Wine test of the build (fixture `wine`): the one
# Debian's wrapper starts on demand shuts down between calls, and a call that
# connects while it does is reset ("recvmsg: Connection reset by peer").
# Wine's own services start here too, with no test's output to hold open.
find_program(QUELMOR_WINESERVER wineserver PATHS /usr/lib/wine REQUIRED)
find_program(QUELMOR_WINE wine REQUIRED)
add_test(NAME wine.server_start COMMAND sh -c
  "'${QUELMOR_WINESERVER}' -k 2>/dev/null; '${QUELMOR_WINESERVER}' -w; '${QUELMOR_WINESERVER}' -p </dev/null >/dev/null 2>&1 && '${QUELMOR_WINE}' wineboot </dev/null >/dev/null 2>&1")
add_test(NAME wine.server_stop COMMAND sh -c "'${QUELMOR_WINESERVER}' -k 2>/dev/null; true")
set_tests_properties(wine.server_start PROPERTIES FIXTURES_SETUP wine LABELS windows)
set_tests_properties(wine.server_stop PROPERTIES FIXTURES_CLEANUP wine LABELS windows)
