# The wait control and the bridge from Qt's event loop to the platform queue: the Qt half of the
# socket layer.
if(NOT DOVRIK_WITH_QT)
  return()
endif()
add_library(dovrik_socket_wait STATIC
  ${CMAKE_CURRENT_LIST_DIR}/wait.cpp ${CMAKE_CURRENT_LIST_DIR}/wait.h
  ${CMAKE_CURRENT_LIST_DIR}/queue_bridge.cpp ${CMAKE_CURRENT_LIST_DIR}/queue_bridge.h)
set_target_properties(dovrik_socket_wait PROPERTIES AUTOMOC ON)
target_include_directories(dovrik_socket_wait PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dovrik_socket_wait PUBLIC dovrik_socket Qt6::Widgets)
