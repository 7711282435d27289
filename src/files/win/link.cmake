# Save-As dialog, its library's version resource, and the shell's "open".
target_link_libraries(kestrova_files PUBLIC comdlg32 version shell32)
