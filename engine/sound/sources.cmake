list(APPEND ZQ_ENGINE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zsnd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zsnd_mixer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zmod.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zmod_periods.cpp
)
