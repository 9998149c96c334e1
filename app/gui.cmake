# The desktop application corvid-burner (Qt 6 Widgets). Included by
# app/CMakeLists.txt when the GUI is built.
find_package(Qt6 6.2 REQUIRED COMPONENTS Widgets DBus)

set(CMAKE_AUTOMOC ON)

# The window's units, as a library for the application and its tests.
add_library(cv_app STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/cvExDDPro.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Unit1.cpp)
target_include_directories(cv_app PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(cv_app PUBLIC cv_burner cv_vrecorder Qt6::Widgets Qt6::DBus)

add_executable(corvid-burner ${CMAKE_CURRENT_SOURCE_DIR}/corvid-burner.cpp)
target_link_libraries(corvid-burner PRIVATE cv_app)
target_compile_definitions(corvid-burner PRIVATE CORVID_VERSION="${PROJECT_VERSION}")

install(TARGETS corvid-burner RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/desktop/corvid-burner.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/desktop/corvid-burner.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
