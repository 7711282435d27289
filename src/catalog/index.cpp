#include "catalog/catalog.h"

namespace catalog {

struct Index::Impl {};
Index::Index(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Index::Index(Index&&) noexcept = default;
Index& Index::operator=(Index&&) noexcept = default;
Index::~Index() = default;
Index Index::Open(const std::string&) { throw CatalogError("the catalog index is not built yet"); }
std::vector<ModelLine> Index::LinesForId(std::string_view) const { return {}; }
size_t Index::LineCount() const { return 0; }
UpdateStats UpdateIndex(const std::string&, const std::vector<std::string>&,
                        std::function<void(const std::string&, int, const std::string&)>,
                        std::function<void(size_t, size_t)>) {
  throw CatalogError("the catalog index is not built yet");
}
std::string DefaultIndexPath(const std::vector<std::string>&) { return {}; }

}  // namespace catalog
