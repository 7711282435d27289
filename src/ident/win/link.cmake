# CoCreateGuid.
target_link_libraries(kestrova_ident PUBLIC ole32)
