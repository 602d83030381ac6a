#include "anatomy/TransformHelpers.h"

#include <Eigen/Geometry>
#include <Eigen/LU>

namespace Orbitane::TransformHelpers {

Eigen::Vector3d transformPoint(const Eigen::Matrix4d& transform, const Eigen::Vector3d& point)
{
	const Eigen::Vector4d mapped = transform * point.homogeneous();
	// affine matrices give w == 1 exactly; dividing anyway would perturb the last bits
	if (mapped.w() == 1.0)
		return mapped.head<3>();
	return mapped.hnormalized();
}

Eigen::Vector4d transformPlane(const Eigen::Matrix4d& transform, const Eigen::Vector4d& plane)
{
	return transform.inverse().transpose() * plane;
}

Eigen::Vector3d worldToLocal(const Eigen::Vector3d& point, const Eigen::Matrix4d* matrixToWorld)
{
	if (!matrixToWorld)
		return point;
	return transformPoint(matrixToWorld->inverse(), point);
}

Eigen::Vector4d worldToLocal(const Eigen::Vector4d& plane, const Eigen::Matrix4d* matrixToWorld)
{
	// (M⁻¹)⁻ᵀ = Mᵀ: no inverse is needed, so the result is exact up to one product
	if (!matrixToWorld)
		return plane;
	return matrixToWorld->transpose() * plane;
}

Eigen::Vector3d localToWorld(const Eigen::Vector3d& point, const Eigen::Matrix4d* matrixToWorld)
{
	return matrixToWorld ? transformPoint(*matrixToWorld, point) : point;
}

Eigen::Vector4d localToWorld(const Eigen::Vector4d& plane, const Eigen::Matrix4d* matrixToWorld)
{
	return matrixToWorld ? transformPlane(*matrixToWorld, plane) : plane;
}

bool isValidTransform(const Eigen::Matrix4d& matrix)
{
	// a projective bottom row would divide every point by its own w
	if (!matrix.allFinite() || matrix.row(3) != Eigen::RowVector4d(0, 0, 0, 1))
		return false;
	const Eigen::FullPivLU<Eigen::Matrix4d> lu(matrix);
	// the frames use the direct inverse, whose determinant overflows where the pivots do not
	return lu.isInvertible() && lu.inverse().allFinite() && matrix.inverse().allFinite();
}

}
