#include "anatomy/style/ASCDisplayOptions.h"
#include "data/DataComponentFactory.h"

namespace Orbitane::AnatomyPlugin {

namespace {

// Files keep components as id + configuration; this lets readers make display options again.
const bool g_registered = [] {
	DataComponentFactory::registerComponent<ASCDisplayOptions>();
	return true;
}();

}

}
