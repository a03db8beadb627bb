if(KEST_GUI)
  # The main window's settings store and status poller.
  add_library(kest_receiverparts STATIC
    ${CMAKE_CURRENT_LIST_DIR}/settings_store.h
    ${CMAKE_CURRENT_LIST_DIR}/settings_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/status_poller.h
    ${CMAKE_CURRENT_LIST_DIR}/status_poller.cpp
  )
  set_target_properties(kest_receiverparts PROPERTIES AUTOMOC ON)
  target_include_directories(kest_receiverparts PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(kest_receiverparts PUBLIC kest_formui Qt5::Widgets kest_settingsfile kest_qtplatform kest_monitor
    kest_appwidgets kest_decoder kest_tuner kest_instance)
endif()
