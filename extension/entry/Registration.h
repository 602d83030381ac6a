#pragma once

#include <pybind11/pybind11.h>

#include "anatomy/style/Selector.h"
#include "anatomy/style/SelectorElem.h"
#include "style_bindings/StyleSheetObject.h"

namespace Orbitane::Bindings {

namespace py = pybind11;

using SelectorElemClass = py::class_<AnatomyPlugin::SelectorElem>;
using SelectorClass = py::class_<AnatomyPlugin::Selector>;
using StyleSheetClass = py::class_<StyleSheetObject>;

// One function per registration step, called by AnatomyDataBindings::bind in this order.
void registerAnatomicalStructureInvalidException(py::module_& m);     // entry/
void registerKeyValueDataWrappers(py::module_& m);                    // store_mapping/
void exportKeyNamespace();                                            // keys/
void registerAnatomicalStructure(py::module_& m);                     // structure_bindings/
void registerGenericAnatomicalStructure(py::module_& m);              // structure_bindings/
void registerASCDisplayOptions(py::module_& m);                       // style_bindings/
void registerDataComponentListAdditions(const char* accessorName);    // style_bindings/
void registerAnatomicalStructureCollection(py::module_& m);           // structure_bindings/
void registerGenericASC(py::module_& m);                              // structure_bindings/
void registerASCRegistration(py::module_& m);                         // algorithm_bindings/
void registerGenerateLinearShapeModel(py::module_& m);                // algorithm_bindings/
void registerLabelMapConversion(py::module_& m);                      // algorithm_bindings/
void registerStyling(py::module_& m, SelectorElemClass& selectorElem, SelectorClass& selector,
                     StyleSheetClass& styleSheet);    // style_bindings/

}
