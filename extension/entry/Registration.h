#pragma once

#include <pybind11/pybind11.h>

#include "anatomy/style/Selector.h"
#include "anatomy/style/SelectorElem.h"
#include "anatomy/style/StyleSheet.h"

namespace Orbitane::Bindings {

namespace py = pybind11;

using SelectorElemClass = py::class_<AnatomyPlugin::SelectorElem>;
using SelectorClass = py::class_<AnatomyPlugin::Selector>;
using StyleSheetClass = py::class_<AnatomyPlugin::StyleSheet>;

// One function per registration step, called by AnatomyDataBindings::bind in this order.
void registerAnatomicalStructureInvalidException(py::module_& m);            // module/
void registerKeyValueDataWrappers(py::module_& m);                           // stores/
void exportKeyNamespace();                                                   // module/
void registerAnatomicalStructure(py::module_& m);                            // structures/
void registerGenericAnatomicalStructure(py::module_& m);                     // structures/
void registerASCDisplayOptions(py::module_& m);                              // styling/
void registerDataComponentListAdditions(const char* accessorName);          // styling/
void registerAnatomicalStructureCollection(py::module_& m);                  // structures/
void registerGenericASC(py::module_& m);                                     // structures/
void registerASCRegistration(py::module_& m);                                // algorithms/
void registerGenerateLinearShapeModel(py::module_& m);                       // algorithms/
void registerLabelMapConversion(py::module_& m);                             // algorithms/
void registerStyling(py::module_& m, SelectorElemClass& selectorElem, SelectorClass& selector,
                     StyleSheetClass& styleSheet);                           // styling/

}
