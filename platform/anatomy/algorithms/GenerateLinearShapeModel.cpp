#include "anatomy/algorithms/GenerateLinearShapeModel.h"

#include "anatomy/algorithms/ShapeLayout.h"
#include "anatomy/shapemodel/Pca.h"
#include "anatomy/shapemodel/Procrustes.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "core/Log.h"
#include "data/DataIO.h"
#include "data/PointCloud.h"

#include <algorithm>
#include <filesystem>

namespace Orbitane {

namespace {

const std::string kLogCategory = "AnatomyPlugin.GenerateLinearShapeModel";
const std::string kFailed = "Shape model failed: ";
const std::string kModelStructure = "Orbitane.ShapeModel";
const std::string kMeanKey = "Orbitane.ShapeModel.Mean";
const std::string kModeKey = "Orbitane.ShapeModel.Mode";

void warn(const std::string& message) { Log::logIfAccepted(Log::Warning, kLogCategory, message, __FILE__, __LINE__); }

/// The .orb files of the directory, sorted. An entry whose kind cannot be told (a symbolic link
/// that loops or leads nowhere) is skipped with a warning like a file that cannot be read.
std::vector<std::filesystem::path> orbFiles(const std::string& directory)
{
	std::vector<std::filesystem::path> files;
	std::error_code ec;
	for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec))
	{
		if (it->path().extension() != ".orb")
			continue;
		std::error_code kindError;
		if (it->is_regular_file(kindError))
			files.push_back(it->path());
		else if (kindError)
			warn("Skipping '" + it->path().string() + "': " + kindError.message());
	}
	std::sort(files.begin(), files.end());
	return files;
}

/// The shapes of every usable file, in file order.
std::vector<ShapeModel::PointSet> readShapes(const std::vector<std::filesystem::path>& files, const ShapeLayout& layout,
                                             const std::function<void(double)>& progress)
{
	std::vector<ShapeModel::PointSet> shapes;
	for (std::size_t i = 0; i < files.size(); ++i)
	{
		const std::string path = files[i].string();
		try
		{
			std::unique_ptr<Data> data = DataIO::load(path);
			auto* collection = dynamic_cast<AnatomicalStructureCollection*>(data.get());
			std::string missing;
			if (!collection)
				warn("Skipping '" + path + "': it holds no anatomical structure collection");
			else if (auto points = layout.extract(*collection, missing))
				shapes.push_back(std::move(*points));
			else
				warn("Skipping '" + path + "': it lacks the " + missing);
		}
		catch (const std::exception& e)
		{
			warn("Skipping '" + path + "': " + e.what());
		}
		progress(double(i + 1) / double(files.size()));
	}
	return shapes;
}

std::unique_ptr<PointCloud> pointCloud(const Eigen::VectorXd& coordinates)
{
	const Eigen::Index n = coordinates.size() / 3;
	std::vector<Eigen::Vector3d> points(static_cast<std::size_t>(n));
	for (Eigen::Index i = 0; i < n; ++i)
		points[static_cast<std::size_t>(i)] = coordinates.segment<3>(3 * i);
	return std::make_unique<PointCloud>(std::move(points));
}

/// The structure that carries the model's point clouds. A collection's own stores are out of reach
/// from Python, so the model lives in a structure; a model used as the mean shape brings its old
/// one along, which is then refilled.
AnatomicalStructure& modelStructure(GenericASC& model)
{
	if (AnatomicalStructure* existing = model.anatomicalStructureByIdentifier(kModelStructure))
	{
		existing->pointclouds.clear();
		return *existing;
	}
	auto created = std::make_unique<GenericAnatomicalStructure>(kModelStructure);
	created->is2D = model.is2D;
	model.addAnatomicalStructure(std::move(created));
	return *model.anatomicalStructureByIdentifier(kModelStructure);
}

std::unique_ptr<GenericASC> modelCollection(const AnatomicalStructureCollection& meanShape, const ShapeLayout& layout,
                                            const ShapeModel::PcaModel& pca, int numShapes)
{
	auto model = std::make_unique<GenericASC>(meanShape.is2D);
	model->setName("shape_model");
	model->setMatrixToWorld(meanShape.matrixToWorld(), false);
	for (int i = 0; i < meanShape.numAnatomicalStructures(); ++i)
		if (!model->addAnatomicalStructure(meanShape.anatomicalStructure(i)->clone()))
			warn("The shape model leaves out the structure '" + meanShape.anatomicalStructure(i)->identifier() +
			     "' of the mean shape");
	layout.apply(Eigen::Map<const Eigen::Matrix3Xd>(pca.mean.data(), 3, layout.numPoints()), *model);

	AnatomicalStructure& carrier = modelStructure(*model);
	if (auto* entry = carrier.pointclouds.set(kMeanKey, pointCloud(pca.mean)))
	{
		entry->attributes().setParam("numModes", static_cast<int>(pca.modes.cols()));
		entry->attributes().setParam("numShapes", numShapes);
	}
	for (Eigen::Index i = 0; i < pca.modes.cols(); ++i)
		if (auto* entry = carrier.pointclouds.set(kModeKey + std::to_string(i), pointCloud(pca.modes.col(i))))
		{
			entry->attributes().setParam("variance", pca.variances[i]);
			entry->attributes().setParam("mode", static_cast<int>(i));
		}
	return model;
}

}

GenerateLinearShapeModel::GenerateLinearShapeModel(const AnatomicalStructureCollection* meanShape)
    : m_meanShape(meanShape)
{
	registerParameter(inputDirectory);
	registerParameter(updateMeanShape);
}

void GenerateLinearShapeModel::compute()
{
	m_status = Unknown;
	m_output = OwningDataList();
	m_updatedMean.reset();
	if (!m_meanShape)
	{
		fail(IncompleteInput, kLogCategory, kFailed + "no mean shape");
		return;
	}
	const ShapeLayout layout(*m_meanShape);
	if (layout.numPoints() == 0)
	{
		fail(InvalidInput, kLogCategory, kFailed + "the mean shape holds no keypoints or meshes");
		return;
	}
	auto stage = [this](double from, double to) {
		return [this, from, to](double f) { setProgress(from + (to - from) * f); };
	};
	auto shapes = readShapes(orbFiles(inputDirectory), layout, stage(0.0, 0.4));
	if (shapes.size() < 2)
	{
		fail(InvalidInput, kLogCategory, kFailed + "fewer than two usable shapes in '" + inputDirectory.get() + "'");
		return;
	}
	// the progress slots run Python code, which may have changed the mean shape since its layout was taken
	std::string missing;
	std::optional<ShapeModel::PointSet> extracted = layout.extract(*m_meanShape, missing);
	if (!extracted)
	{
		fail(InvalidInput, kLogCategory,
		     kFailed + "the mean shape changed while the shapes were read: it lacks the " + missing);
		return;
	}
	ShapeModel::PointSet mean = std::move(*extracted);
	const Eigen::VectorXd weights = layout.numKeypoints() >= 3 ? layout.keypointWeights() : Eigen::VectorXd();

	std::vector<ShapeModel::PointSet> aligned;
	try
	{
		if (updateMeanShape)
		{
			ShapeModel::GeneralisedProcrustesOptions options;
			options.progress = stage(0.4, 0.7);
			auto gpa = ShapeModel::generalisedProcrustes(shapes, mean, weights, options);
			mean = gpa.mean;
			aligned = std::move(gpa.aligned);
		}
		else
			for (const auto& shape : shapes)
				aligned.push_back(ShapeModel::transformed(ShapeModel::alignProcrustes(shape, mean, weights), shape));
		ShapeModel::PcaOptions options;
		options.progress = stage(0.7, 1.0);
		auto pca = ShapeModel::computePca(ShapeModel::stackShapes(aligned), options);
		m_output.add(modelCollection(*m_meanShape, layout, pca, static_cast<int>(shapes.size())));
	}
	catch (const std::invalid_argument& e)
	{
		fail(InvalidInput, kLogCategory, kFailed + e.what());
		return;
	}
	if (updateMeanShape)
	{
		m_updatedMean = m_meanShape->clone();
		layout.apply(mean, *m_updatedMean);
	}
	m_status = Success;
}

}
