"""NIfTI (.nii, .nii.gz; versions 1 and 2) and MGH (.mgh, .mgz) images, through nibabel."""

import gzip

import numpy as np

from .. import _orbitane
from . import geometry
from .access import ensure_readable, unreadable
from .atomic import replacing
from .requirements import require

# The voxel types images hold, and the types that are widened or narrowed to them without loss
_HELD = tuple(np.dtype(t) for t in ("u1", "i1", "u2", "i2", "u4", "i4", "f4", "f8"))
_MGH_TYPES = tuple(np.dtype(t) for t in ("u1", "i2", "i4", "f4"))
_LABEL_TYPES = tuple(np.dtype(t) for t in ("u1", "i1", "u2", "i2", "u4", "i4"))
_NIFTI_LABEL_INTENT = "label"
# NIfTI-1 keeps its affine in single precision; past this shift of a voxel, NIfTI-2 keeps it exactly
_GEOMETRY_TOLERANCE_MM = 1e-6


def _stored_values(image):
    """The voxels as stored, or float64 when the file scales them (slope and intercept)."""
    proxy = image.dataobj
    raw = np.asanyarray(proxy.get_unscaled() if hasattr(proxy, "get_unscaled") else proxy)
    slope, intercept = float(getattr(proxy, "slope", 1.0)), float(getattr(proxy, "inter", 0.0))
    if (slope, intercept) != (1.0, 0.0):
        return raw.astype(np.float64) * slope + intercept
    return raw.astype(raw.dtype.newbyteorder("="), copy=False)


def _held_type(values, path):
    """The values in a type that images hold: the stored one where possible, else one that loses nothing."""
    dtype = values.dtype
    if dtype in _HELD:
        return values
    if dtype == np.bool_:
        return values.astype(np.uint8)
    if dtype == np.float16:
        return values.astype(np.float32)
    if dtype.kind in "iu":
        narrow = np.dtype("i4" if dtype.kind == "i" else "u4")
        info = np.iinfo(narrow)
        if values.size == 0 or (values.min() >= info.min and values.max() <= info.max):
            return values.astype(narrow)
        raise ValueError(f'cannot open "{path}": its {dtype} voxels do not fit in {narrow}, the widest integer '
                         "type images hold")
    raise ValueError(f'cannot open "{path}": images cannot hold its voxel type {dtype}')


def _as_labels(values, path):
    """Label maps need whole numbers in an integer type: floats that hold them are converted."""
    if values.dtype in _LABEL_TYPES:
        return values
    if not np.all(np.isfinite(values)) or np.any(values != np.round(values)):
        raise ValueError(f'cannot open "{path}": a label map holds whole numbers, and some of its {values.dtype} '
                         "voxels are fractional or not finite")
    low, high = (values.min(), values.max()) if values.size else (0, 0)
    for dtype in _LABEL_TYPES:
        info = np.iinfo(dtype)
        if info.min <= low and high <= info.max:
            return values.astype(dtype)
    raise ValueError(f'cannot open "{path}": its label values do not fit in a 32-bit integer')


def _volumes(values, path):
    """The file's volumes as platform arrays [z, y, x]; the file's axes are (x, y, z, volume)."""
    shape = list(values.shape)
    while len(shape) > 4 and shape[-1] == 1:
        shape.pop()
    if len(shape) > 4:
        raise ValueError(f'cannot open "{path}": it has {len(values.shape)} axes {tuple(values.shape)}; '
                         "images have at most four (x, y, z and volumes)")
    values = values.reshape(shape + [1] * (3 - len(shape)))
    if values.size == 0:
        raise ValueError(f'cannot open "{path}": it holds no voxels (shape {tuple(values.shape)})')
    if values.ndim == 3:
        return [np.ascontiguousarray(values.T)]
    return [np.ascontiguousarray(values[..., t].T) for t in range(values.shape[3])]


def _says_labels(image):
    header = image.header
    return hasattr(header, "get_intent") and header.get_intent()[0] == _NIFTI_LABEL_INTENT


def read_image(path, modality=None):
    """A SharedImageSet with one image per volume of the file, placed in the world (LPS)."""
    nibabel = require("nibabel")
    ensure_readable(path)
    try:
        image = nibabel.load(path)
        values = _stored_values(image)
        affine = np.asarray(image.affine, dtype=np.float64)
        labels = _says_labels(image)
    except Exception as error:  # truncated, corrupt or foreign: whatever nibabel, gzip or numpy raise
        raise unreadable(path, error) from error
    problem = geometry.invertibility_problem(affine)
    if problem:
        raise ValueError(f'cannot open "{path}": {problem}')
    if labels or modality == _orbitane.Modality.LABEL:
        modality = _orbitane.Modality.LABEL
        values = _as_labels(values, path)
    values = _held_type(values, path)
    matrix, spacing = geometry.platform_frame(affine)
    volumes = _volumes(values, path)
    images = _orbitane.SharedImageSet(volumes[0], spacing=spacing, matrix_to_world=matrix,
                                      modality=modality if modality is not None else _orbitane.Modality.NA)
    for volume in volumes[1:]:
        images.add(volume, spacing=spacing)
    return images


def _image_arrays(images, path):
    """Every image's array and spacing; restores the focus it moves to read the spacings."""
    if len(images) == 0:
        raise ValueError(f'cannot save "{path}": the image set holds no image')
    focus = images.focus
    try:
        arrays, spacings = [], []
        for i in range(len(images)):
            images.focus = i
            arrays.append(images.array(i))
            spacings.append(tuple(images.spacing))
    finally:
        images.focus = focus
    first = arrays[0]
    if any(a.shape != first.shape or a.dtype != first.dtype for a in arrays) or len(set(spacings)) > 1:
        raise ValueError(f'cannot save "{path}": its images differ in shape, type or spacing, so they are not '
                         "the volumes of one file")
    return arrays, spacings[0]


def _file_values(arrays):
    """The file's (x, y, z[, volume]) array from platform arrays [z, y, x] or [y, x]."""
    volumes = [a.T if a.ndim == 3 else a.T[..., np.newaxis] for a in arrays]
    return volumes[0] if len(volumes) == 1 else np.stack(volumes, axis=3)


def _nifti_image(nibabel, values, affine, labels):
    fits_single = geometry.single_precision_error(affine, values.shape) <= _GEOMETRY_TOLERANCE_MM
    kind = nibabel.Nifti1Image if fits_single else nibabel.Nifti2Image
    image = kind(values, affine)
    image.header.set_data_dtype(values.dtype)
    image.header.set_xyzt_units("mm")
    image.set_sform(affine, code="scanner")
    image.set_qform(affine, code="scanner")
    if labels:
        image.header.set_intent(_NIFTI_LABEL_INTENT)
    return image


def _mgh_image(nibabel, values, affine, path):
    if values.dtype not in _MGH_TYPES:
        raise ValueError(f'cannot save "{path}": MGH files hold uint8, int16, int32 or float32 voxels, '
                         f"not {values.dtype}; save it as .nii.gz, or convert the array")
    return nibabel.MGHImage(values, affine)


def write_image(images, path, mgh, compressed):
    """Writes the image set (its volumes as the fourth axis) with its geometry in RAS."""
    nibabel = require("nibabel")
    if not isinstance(images, _orbitane.SharedImageSet):
        raise TypeError(f'cannot save "{path}": image files hold a SharedImageSet, not {type(images).__name__}')
    arrays, spacing = _image_arrays(images, path)
    matrix = images.matrix_to_world
    affine = geometry.ras_affine(matrix, spacing)
    problem = geometry.invertibility_problem(affine)
    if problem:
        raise ValueError(f'cannot save "{path}": {problem.replace("its affine", "its matrix_to_world")}')
    values = _file_values(arrays)
    labels = images.modality == _orbitane.Modality.LABEL
    image = _mgh_image(nibabel, values, affine, path) if mgh else _nifti_image(nibabel, values, affine, labels)
    with replacing(path) as temporary, open(temporary, "wb") as file:
        if compressed:
            with gzip.GzipFile(fileobj=file, mode="wb", mtime=0) as stream:
                image.to_stream(stream)
        else:
            image.to_stream(file)
