// The hand pointer over the window's picture buttons.
#pragma once

namespace basMouseCursor {

// Makes the system's hand cursor current; true when it did. A system without
// one leaves the cursor as it is.
bool ShowHandCursor();

}  // namespace basMouseCursor
