#include "entry/Registration.h"

#include "anatomy/algorithms/GenericASCFromMultiLabelMap.h"
#include "anatomy/structures/GenericASC.h"
#include "data/LabelDataComponent.h"
#include "data/SharedImageSet.h"
#include "support/BindingInternals.h"
#include "support/Utf8Name.h"

#include <pybind11/stl.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace Orbitane::Bindings {

namespace {

/// The names given to generic_asc_from_label_map, by label value.
using LabelNames = binding_detail::MapFromDictCopy<std::map<int, std::string>>;

void checkLabelImageSet(const SharedImageSet& images)
{
	if (images.size() != 1)
		throw std::invalid_argument("generic_asc_from_label_map only supports a single image set");
	if (images.get(-1)->modality() != Modality::LABEL)
		throw std::invalid_argument("generic_asc_from_label_map only supports label images");
}

std::shared_ptr<GenericASC> genericASCFromLabelMap(SharedImageSet& images, const LabelNames& mapping)
{
	checkLabelImageSet(images);
	LabelDataComponent labels(nullptr);
	for (const auto& [value, name] : mapping.value)
	{
		auto config = LabelDataComponent::defaultLabelConfig(value);
		config.name = utf8Name(name, "label name");
		labels.setLabelConfig(value, std::move(config));
	}
	AnatomicalStructureProcessing::GenericASCFromMultiLabelMap algorithm(&images, nullptr, &labels);
	algorithm.onlyConfiguredLabels = false;
	algorithm.compute();
	OwningDataList output = algorithm.takeOutput();
	return std::shared_ptr<GenericASC>(output.takeFirst<GenericASC>());
}

}

void registerLabelMapConversion(py::module_& m) { m.def("generic_asc_from_label_map", &genericASCFromLabelMap); }

}
