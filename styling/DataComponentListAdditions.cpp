#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerDataComponentListAdditions(const char*)
{
}

}
