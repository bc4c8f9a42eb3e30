# One Wine prefix and server for every Wine test of the build (fixture
# `wine`), booted afresh in the build folder by wine_server.sh. The tests see
# that prefix and a home that does not exist, so nothing of the user's is read
# or written. QUELMOR_WINE_ENVIRONMENT holds what each such test needs.
set(wineFolder ${PROJECT_BINARY_DIR}/wine)
set(QUELMOR_WINE_ENVIRONMENT WINEPREFIX=${wineFolder}/prefix HOME=${wineFolder}/no-home WINEDEBUG=-all)
add_test(NAME wine.server_start COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_server.sh start ${wineFolder}/prefix)
add_test(NAME wine.server_stop COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_server.sh stop ${wineFolder}/prefix)
set_tests_properties(wine.server_start PROPERTIES FIXTURES_SETUP wine LABELS windows
                     ENVIRONMENT "${QUELMOR_WINE_ENVIRONMENT}")
set_tests_properties(wine.server_stop PROPERTIES FIXTURES_CLEANUP wine LABELS windows
                     ENVIRONMENT "${QUELMOR_WINE_ENVIRONMENT}")
