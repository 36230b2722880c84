# The printing tests that go through a real print spooler share one private cupsd (see
# tests/spooler), started before them and stopped after them, in both the normal and the
# sanitizer build. They find it through CUPS_SERVER, which Qt's print support and libcups read.
#
# The spooler's folder lies under /tmp, not under the build folder: its print filters run as an
# unprivileged user and must reach the jobs, the queue's PPD and the spooler's temporary files,
# which they cannot do when the checkout sits in a folder only its owner may enter. The name is
# fixed per build folder, so that CTest can pass the socket to the tests, and short, so that the
# socket's path stays within the limit of a local socket address.
string(MD5 LISTWISE_BUILD_HASH "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${LISTWISE_BUILD_HASH}" 0 12 LISTWISE_BUILD_HASH)
set(LISTWISE_SPOOLER_DIR /tmp/listwise-cups-${LISTWISE_BUILD_HASH})
add_test(NAME spooler.start
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/spooler/start-cupsd.sh ${LISTWISE_SPOOLER_DIR})
add_test(NAME spooler.stop
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/spooler/stop-cupsd.sh ${LISTWISE_SPOOLER_DIR})
set_tests_properties(spooler.start PROPERTIES FIXTURES_SETUP spooler TIMEOUT 120)
set_tests_properties(spooler.stop PROPERTIES FIXTURES_CLEANUP spooler TIMEOUT 60)
if(TEST report.tst_PrintSpool)
  set_tests_properties(report.tst_PrintSpool PROPERTIES
    FIXTURES_REQUIRED spooler
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;CUPS_SERVER=${LISTWISE_SPOOLER_DIR}/cups.sock")
endif()
