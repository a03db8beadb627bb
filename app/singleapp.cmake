# QtSingleApplication: the single-instance check of the main program.
add_library(kest_singleapp STATIC
  ${CMAKE_CURRENT_LIST_DIR}/qtsingleapplication.h
  ${CMAKE_CURRENT_LIST_DIR}/qtsingleapplication.cpp
)
set_target_properties(kest_singleapp PROPERTIES AUTOMOC ON)
target_include_directories(kest_singleapp PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kest_singleapp PUBLIC Qt5::Widgets kest_qtplatform kest_winmsg)
