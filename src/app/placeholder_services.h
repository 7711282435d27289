// PLACEHOLDERS for operations whose subsystems have not landed yet. Each
// subsystem's real operation replaces its entry in the composition roots
// (app/<os>/platform_services.cpp) and deletes it from here; nothing here may
// remain in a release.
#pragma once

#include "app/scan_services.h"

namespace app {

ScanServices PlaceholderServices(ScanUi& ui, file::FileSystem& fs);

}  // namespace app
