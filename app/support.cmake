# Pieces of the program kept apart from the window so that they build and are
# tested on their own: the single running copy, the quit signals and the
# choice of the files' folder, the command line.
add_library(volmar_app_support STATIC
    ${PROJECT_SOURCE_DIR}/app/data_folder.cpp
    ${PROJECT_SOURCE_DIR}/app/single_instance.cpp
    ${PROJECT_SOURCE_DIR}/app/quit_signals.cpp
    ${PROJECT_SOURCE_DIR}/app/command_line.cpp
)
target_include_directories(volmar_app_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(volmar_app_support PUBLIC volmar_lab Qt6::Core Qt6::Network Qt6::Widgets)
volmar_own_code(volmar_app_support)
