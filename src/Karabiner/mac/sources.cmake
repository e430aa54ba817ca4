target_sources(tarvel_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/KarabinerEnvironmentMac.mm)
