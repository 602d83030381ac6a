"""Voxel geometry between image files and the platform.

A file's affine takes voxel indices (i, j, k) straight to world millimetres in its own convention;
the platform places the centre of voxel (i, j, k) at ``matrix_to_world @ (spacing * (i, j, k), 1)``
in LPS. With spacing the column norms of the affine's 3x3 part, both describe the same voxels
exactly, for rotated, oblique, sheared and mirrored affines alike.
"""

import numpy as np

# RAS (NIfTI, MGH) and LPS differ in the signs of x and y; the matrix is its own inverse
RAS_TO_LPS = np.diag([-1.0, -1.0, 1.0, 1.0])


def invertibility_problem(affine):
    """What keeps a 4x4 voxel-to-world matrix from placing voxels, or None when it is sound."""
    affine = np.asarray(affine, dtype=np.float64)
    if affine.shape != (4, 4) or not np.all(np.isfinite(affine)):
        return "its affine is not a finite 4x4 matrix"
    if not np.array_equal(affine[3], [0.0, 0.0, 0.0, 1.0]):
        return "its affine's last row is not (0, 0, 0, 1)"
    linear = affine[:3, :3]
    norms = np.linalg.norm(linear, axis=0)
    if np.any(norms == 0) or abs(np.linalg.det(linear / norms)) < 1e-9:
        return "its affine is not invertible"
    return None


def platform_frame(ras_affine):
    """(matrix_to_world, spacing) for a file's voxel-to-RAS affine, which must be invertible."""
    affine = np.asarray(ras_affine, dtype=np.float64)
    spacing = np.linalg.norm(affine[:3, :3], axis=0)
    matrix = RAS_TO_LPS @ affine @ np.diag([*(1.0 / spacing), 1.0])
    return matrix, spacing


def ras_affine(matrix_to_world, spacing):
    """The voxel-to-RAS affine of a file for the platform's matrix and spacing."""
    return RAS_TO_LPS @ np.asarray(matrix_to_world, dtype=np.float64) @ np.diag([*spacing, 1.0])


def single_precision_error(affine, shape):
    """The largest shift, in mm, of a voxel of the image when the affine is stored as float32."""
    error = np.asarray(affine, dtype=np.float64) - np.asarray(affine, dtype=np.float32).astype(np.float64)
    corners = np.array([[i, j, k, 1.0] for i in (0, shape[0] - 1) for j in (0, shape[1] - 1)
                        for k in (0, shape[2] - 1)])
    return float(np.max(np.linalg.norm((corners @ error.T)[:, :3], axis=1)))
