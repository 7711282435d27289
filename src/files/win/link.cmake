# Save-As dialog and the shell's "open" (VERSION.dll is loaded at run time).
target_link_libraries(kestrova_files PUBLIC comdlg32 shell32 ole32)
