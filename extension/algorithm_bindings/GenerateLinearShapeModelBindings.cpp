#include "entry/Registration.h"

#include "anatomy/algorithms/GenerateLinearShapeModel.h"
#include "data/DeferredCopies.h"

#include <pybind11/stl.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace Orbitane::Bindings {

namespace {

constexpr const char* kConstructorDoc =
    "Generate a linear shape model from a set of AnatomicalStructureCollections.\n"
    "Input data are the mean shape and a set of .orb files with AnatomicalStructureCollections located in the "
    "input directory.\n"
    "The mean shape defines the anatomical structures of interest and can optionally be updated iteratively in "
    "batches\n"
    "before the linear shape model is computed.\n"
    "\n"
    "Args:\n"
    "\tmean_shape: AnatomicalStructureCollection that defines the registration target and structures of interest.";

using Results = std::map<std::string, std::shared_ptr<AnatomicalStructureCollection>>;

Results shapeModelResults(GenerateLinearShapeModel& algorithm)
{
	algorithm.compute();
	if (algorithm.status() != 0)
		throw std::runtime_error("Failed to compute linear shape model");
	Results results;
	std::unique_ptr<AnatomicalStructureCollection> model;
	{
		OwningDataList output = algorithm.takeOutput();
		model = output.takeFirst<AnatomicalStructureCollection>();
	}
	if (!model)
		throw std::runtime_error("No PCA template available");
	results["shape_model"] = std::move(model);
	if (algorithm.updateMeanShape)
		results["mean"] = algorithm.getMeanShape();
	return results;
}

// Copies of Python-defined components finish once the whole call is done (see DeferredCopies).
Results computeShapeModel(GenerateLinearShapeModel& algorithm)
{
	return withDeferredCopies([&] { return shapeModelResults(algorithm); });
}

}

void registerGenerateLinearShapeModel(py::module_& m)
{
	py::class_<GenerateLinearShapeModel, Algorithm>(m, "GenerateLinearShapeModel")
	    // the algorithm refers to the mean shape while it lives, so it keeps it alive
	    .def(py::init([](const AnatomicalStructureCollection* meanShape) {
		         return std::make_unique<GenerateLinearShapeModel>(meanShape);
	         }),
	         py::arg("mean_shape"), kConstructorDoc, py::keep_alive<1, 2>())
	    .def("__call__", &computeShapeModel,
	         "Compute and return the mean shape (if configured to be updated) and the linear shape model");
}

}
