#include "anatomy/shapemodel/Procrustes.h"

#include "anatomy/registration/RigidFit.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace Orbitane::ShapeModel {

namespace {

Eigen::VectorXd weightsFor(const Eigen::VectorXd& weights, Eigen::Index points)
{
	if (weights.size() == 0)
		return Eigen::VectorXd::Ones(points);
	if (weights.size() != points)
		throw std::invalid_argument("there are " + std::to_string(weights.size()) + " weights for " +
		                            std::to_string(points) + " points");
	return weights;
}

// Root mean square distance of the points from their centroid.
double size(const PointSet& points)
{
	if (points.cols() == 0)
		return 0.0;
	const Eigen::Vector3d centroid = points.rowwise().mean();
	return std::sqrt((points.colwise() - centroid).colwise().squaredNorm().mean());
}

double rmsDistance(const PointSet& a, const PointSet& b)
{
	return a.cols() == 0 ? 0.0 : std::sqrt((a - b).colwise().squaredNorm().mean());
}

void checkShapes(const std::vector<PointSet>& shapes, const PointSet& mean)
{
	if (shapes.empty())
		throw std::invalid_argument("no shapes to align");
	for (size_t i = 0; i < shapes.size(); ++i)
		if (shapes[i].cols() != mean.cols())
			throw std::invalid_argument("shape " + std::to_string(i + 1) + " has " + std::to_string(shapes[i].cols()) +
			                            " points where the mean has " + std::to_string(mean.cols()));
}

// Brings a freshly averaged mean back into the frame (and size) of the reference so that the
// shapes' common pose cannot drift from one re-estimation to the next.
PointSet inReferenceFrame(const PointSet& average, const PointSet& reference, const Eigen::VectorXd& w, bool withScale)
{
	return transformed(alignProcrustes(average, reference, w, withScale), average);
}

// Names the shape in the message, since a whole training set is aligned in one call.
Eigen::Matrix4d alignShape(const std::vector<PointSet>& shapes, size_t i, const PointSet& mean,
                           const Eigen::VectorXd& w, bool withScale)
{
	try
	{
		return alignProcrustes(shapes[i], mean, w, withScale);
	}
	catch (const std::invalid_argument& e)
	{
		throw std::invalid_argument("shape " + std::to_string(i + 1) + ": " + e.what());
	}
}

}    // namespace

PointSet transformed(const Eigen::Matrix4d& transform, const PointSet& points)
{
	return Registration::transformPoints(transform, points);
}

Eigen::Matrix4d alignProcrustes(const PointSet& source, const PointSet& target, const Eigen::VectorXd& weights,
                                bool withScale)
{
	if (source.cols() != target.cols())
		throw std::invalid_argument("the shapes differ in point count (" + std::to_string(source.cols()) + " and " +
		                            std::to_string(target.cols()) + ")");
	const auto fit = Registration::fitPointSets(source, target, weightsFor(weights, source.cols()), withScale);
	if (!fit.ok)
		throw std::invalid_argument("the shape cannot be aligned: " + fit.reason);
	return fit.transform;
}

GeneralisedProcrustesResult generalisedProcrustes(const std::vector<PointSet>& shapes, const PointSet& initialMean,
                                                  const Eigen::VectorXd& weights,
                                                  const GeneralisedProcrustesOptions& options)
{
	checkShapes(shapes, initialMean);
	const Eigen::VectorXd w = weightsFor(weights, initialMean.cols());
	const size_t n = shapes.size();
	const size_t batch = static_cast<size_t>(std::max(1, options.batchSize));
	const size_t batches = (n + batch - 1) / batch;
	const int maxPasses = std::max(1, options.maxPasses);

	GeneralisedProcrustesResult result;
	result.mean = initialMean;
	result.transforms.assign(n, Eigen::Matrix4d::Identity());
	result.aligned.assign(n, PointSet());
	PointSet sum = PointSet::Zero(3, initialMean.cols());
	size_t alignedSoFar = 0;    // shapes aligned at least once; only they enter the mean
	for (int pass = 0; pass < maxPasses && !result.converged; ++pass)
	{
		const PointSet meanBefore = result.mean;
		for (size_t b = 0; b < batches; ++b)
		{
			for (size_t i = b * batch; i < std::min(n, (b + 1) * batch); ++i)
			{
				if (result.aligned[i].cols() == 0)
					++alignedSoFar;
				else
					sum -= result.aligned[i];
				result.transforms[i] = alignShape(shapes, i, result.mean, w, options.withScale);
				result.aligned[i] = transformed(result.transforms[i], shapes[i]);
				sum += result.aligned[i];
			}
			result.mean = inReferenceFrame(sum / static_cast<double>(alignedSoFar), initialMean, w, options.withScale);
			if (options.progress)
				options.progress(static_cast<double>(pass * static_cast<int>(batches) + static_cast<int>(b) + 1) /
				                 static_cast<double>(maxPasses * static_cast<int>(batches)));
		}
		result.passes = pass + 1;
		result.converged = rmsDistance(result.mean, meanBefore) <= options.tolerance * size(result.mean);
	}
	if (options.progress)
		options.progress(1.0);
	return result;
}

}    // namespace Orbitane::ShapeModel
