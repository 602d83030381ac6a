#pragma once

#include <Eigen/Core>

namespace Orbitane::TransformHelpers {

/// Points are 3-vectors mapped as homogeneous points (w = 1). Planes are 4-vectors (a, b, c, d)
/// of a·x + b·y + c·z + d = 0; they are mapped exactly, by the inverse transpose of the point
/// mapping, and are never normalised, so the relation "point lies on plane" survives every mapping.
/// A null matrix pointer stands for the identity.

/// A world point in the frame whose local-to-world matrix is *matrixToWorld.
Eigen::Vector3d worldToLocal(const Eigen::Vector3d& point, const Eigen::Matrix4d* matrixToWorld);
/// A world plane in the frame whose local-to-world matrix is *matrixToWorld (that is Mᵀ·plane).
Eigen::Vector4d worldToLocal(const Eigen::Vector4d& plane, const Eigen::Matrix4d* matrixToWorld);

Eigen::Vector3d localToWorld(const Eigen::Vector3d& point, const Eigen::Matrix4d* matrixToWorld);
Eigen::Vector4d localToWorld(const Eigen::Vector4d& plane, const Eigen::Matrix4d* matrixToWorld);

/// transform · (point, 1), divided by the resulting w when it is not 1.
Eigen::Vector3d transformPoint(const Eigen::Matrix4d& transform, const Eigen::Vector3d& point);
/// The plane that the points of `plane` lie on after `transform`: transform⁻ᵀ · plane.
Eigen::Vector4d transformPlane(const Eigen::Matrix4d& transform, const Eigen::Vector4d& plane);

/// True when the matrix is affine (bottom row 0 0 0 1), every element is finite and the matrix is
/// invertible with a finite inverse.
bool isValidTransform(const Eigen::Matrix4d& matrix);

}
