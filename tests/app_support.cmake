volmar_test(test_app_support
    SOURCES app_support/single_instance_test.cpp app_support/quit_signals_test.cpp
            app_support/data_folder_test.cpp app_support/command_line_test.cpp
            app_support/app_support_test_main.cpp
    LIBS volmar_app_support)
