list(APPEND ZQ_ENGINE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zvgs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zvgs_layers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zh3d.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zh3d_batch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zh3d_texture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zh3d_shader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zgfx.cpp
)
