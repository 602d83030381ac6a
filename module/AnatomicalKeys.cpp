#include "module/Registration.h"

namespace Orbitane::Bindings {

void exportKeyNamespace()
{
}

}
