list(APPEND ZQ_ENGINE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zmth.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zo3d.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zo3d_draw.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zo3d_material.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zo3d_proc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zoctaabb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zoctree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zparts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zw3d.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zw3d_text.cpp
)
