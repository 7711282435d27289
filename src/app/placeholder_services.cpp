#include "app/placeholder_services.h"

namespace app {

ScanServices PlaceholderServices(ScanUi&, file::FileSystem&) {
  ScanServices s;
  return s;
}

}  // namespace app
