# zmem.cpp is not listed: each engine DLL flavour compiles it itself.
list(APPEND ZQ_ENGINE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zarquel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zcaps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zdebug.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zkbd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zmse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zthreads.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zvti.cpp
)
