// A modal message box: the text, one OK button, no icon.
#pragma once

#include <FL/Fl_Window.H>

#include <string>

namespace app {

// `text` is label text (see FltkLabel). Centred over `owner` when it is shown. Returns when
// the user presses OK, Enter, Escape or closes the box.
void ShowMessageBox(Fl_Window* owner, const char* title, const std::string& text, Fl_Font font,
                    Fl_Fontsize size);

}  // namespace app
