#pragma once

#include "anatomy/registration/RigidFit.h"

#include <Eigen/Core>

#include <array>
#include <functional>
#include <span>
#include <variant>
#include <vector>

namespace Orbitane::Registration {

/// A borrowed 3-D image: voxels x fastest, then y, then z. The centre of voxel (i, j, k) lies at
/// world point matrixToWorld · (spacing ⊙ (i, j, k), 1).
struct ImageView
{
	std::variant<std::span<const float>, std::span<const double>> voxels;
	std::array<int, 3> dims{0, 0, 0};
	Eigen::Vector3d spacing = Eigen::Vector3d::Ones();
	Eigen::Matrix4d matrixToWorld = Eigen::Matrix4d::Identity();
};

struct ImageRegistrationOptions
{
	/// Gauss–Newton iterations at most per resolution level.
	int iterationsPerLevel = 40;
	/// Resolution levels at most, each halving the previous one.
	int maxLevels = 4;
	/// Fixed voxels sampled per level at most; larger images are sampled on a regular stride.
	long maxSamples = 250000;
	/// Receives the fraction done, from 0 to 1.
	std::function<void(double)> progress;
};

/// Rigid registration of moving images onto fixed ones: fixed[i] is paired with moving[i] and all
/// pairs contribute to one motion. The result maps moving world coordinates onto fixed ones.
/// Initialised from intensity centroids and principal axes, refined by minimising the sum of
/// squared intensity differences coarse to fine.
RigidFitResult registerRigidImages(const std::vector<ImageView>& fixed, const std::vector<ImageView>& moving,
                                   const ImageRegistrationOptions& options = {});

}    // namespace Orbitane::Registration
