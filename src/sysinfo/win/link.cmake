# COM and the scripting interface of WMI.
target_link_libraries(kestrova_sysinfo PUBLIC ole32 oleaut32 uuid)
