// Compiles the anatomical key constants into the module, so that loading it fills the registry
// before the module's initialisation exports the identifiers.
#include "keys/AnatomicalKeyConstants.h"
