# Sync tests against a private calendar server (Debian's radicale), started once for all of them
# on a loopback port of its own choosing and stopped afterwards. Each test makes its own
# collections on it, so the tests do not see each other's tasks.
set(LISTWISE_RADICALE_DIR ${CMAKE_CURRENT_BINARY_DIR}/caldav/radicale)
add_test(NAME caldav.server.start
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/caldav/start-radicale.sh ${LISTWISE_RADICALE_DIR})
add_test(NAME caldav.server.stop
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/caldav/stop-radicale.sh ${LISTWISE_RADICALE_DIR})
set_tests_properties(caldav.server.start PROPERTIES FIXTURES_SETUP caldavserver TIMEOUT 60)
set_tests_properties(caldav.server.stop PROPERTIES FIXTURES_CLEANUP caldavserver TIMEOUT 60)

file(GLOB caldav_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/caldav/*.cpp)
foreach(src ${caldav_sources})
  get_filename_component(name ${src} NAME_WE)
  add_executable(caldav_${name} ${src})
  target_link_libraries(caldav_${name} PRIVATE lwsync Qt6::Test)
  if(TARGET lwapp)
    target_link_libraries(caldav_${name} PRIVATE lwapp)
  endif()
  add_test(NAME caldav.${name} COMMAND caldav_${name})
  set_tests_properties(caldav.${name} PROPERTIES FIXTURES_REQUIRED caldavserver TIMEOUT 900
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;LISTWISE_RADICALE_DIR=${LISTWISE_RADICALE_DIR}")
endforeach()

# Another client on the same server (Debian's python3-caldav) against the command-line sync.
if(TARGET lwsynctool)
  file(GLOB caldav_scripts CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/caldav/test_*.py)
  foreach(script ${caldav_scripts})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME caldav.${name}
             COMMAND /usr/bin/python3 ${script} --lwsync $<TARGET_FILE:lwsynctool>
                     --xbtool $<TARGET_FILE:xbtool> --server-dir ${LISTWISE_RADICALE_DIR}
                     --work ${CMAKE_CURRENT_BINARY_DIR}/caldav/${name})
    set_tests_properties(caldav.${name} PROPERTIES FIXTURES_REQUIRED caldavserver TIMEOUT 900
      ENVIRONMENT "LC_ALL=C.UTF-8")
  endforeach()
endif()
