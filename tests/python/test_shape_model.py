"""GenerateLinearShapeModel: its Python face (constructor, call, result dictionary, lifetime of the
mean shape) and the model it builds from a directory of .orb files."""

import gc
import logging
import os
import weakref

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy

Model = anatomy.GenerateLinearShapeModel
LOGGER = "orbitane.AnatomyPlugin.GenerateLinearShapeModel"
CONSTRUCTOR_DOC = (
    "Generate a linear shape model from a set of AnatomicalStructureCollections.\n"
    "Input data are the mean shape and a set of .orb files with AnatomicalStructureCollections located in the input "
    "directory.\n"
    "The mean shape defines the anatomical structures of interest and can optionally be updated iteratively in "
    "batches\n"
    "before the linear shape model is computed.\n"
    "\n"
    "Args:\n"
    "\tmean_shape: AnatomicalStructureCollection that defines the registration target and structures of interest.")
FAILED = "Failed to compute linear shape model"

KEYPOINTS = np.array([[0, 0, 0], [10, 0, 0], [0, 8, 0], [0, 0, 6]], float)
VERTICES = np.array([[3, 3, 0], [7, 3, 3], [3, 7, 3], [-1, 3, 3], [3, -1, 3], [3, 3, 6]], float)
FACES = [[0, 2, 1], [0, 3, 2], [0, 4, 3], [0, 1, 4], [5, 1, 2], [5, 2, 3], [5, 3, 4], [5, 4, 1]]
# the mesh varies in three ways between training shapes; the keypoints do not
VARIATIONS = np.zeros((3, 6, 3))
VARIATIONS[0, 5, 2] = 2.0
VARIATIONS[1, 1, 0], VARIATIONS[1, 2, 1] = 1.0, -1.0
VARIATIONS[2, 3, 0], VARIATIONS[2, 4, 1] = -0.5, -0.5
COEFFICIENTS = [(1, 0, 0.3), (-1, 0.5, 0), (0.5, 1, -0.2), (0, -1, 0.1), (2, 0.25, 0.4), (-1.5, -0.75, -0.6)]


def rigid(seed):
    rng = np.random.default_rng(seed)
    q = np.linalg.qr(rng.normal(size=(3, 3)))[0]
    q *= np.sign(np.linalg.det(q))
    m = np.eye(4)
    m[:3, :3], m[:3, 3] = q, rng.uniform(-20, 20, 3)
    return m


def apply(m, p):
    return np.asarray(p) @ m[:3, :3].T + m[:3, 3]


def shape_points(coefficients):
    """Layout order: the bone's keypoints k0..k3, then the mesh vertices."""
    vertices = VERTICES + np.tensordot(np.asarray(coefficients, float), VARIATIONS, axes=1)
    return np.vstack([KEYPOINTS, vertices])


def collection(points, mesh_frame=None):
    c = anatomy.GenericASC()
    bone = anatomy.GenericAnatomicalStructure("bone")
    bone.keypoints2.update({f"k{i}": p for i, p in enumerate(points[:4])})
    frame = np.eye(4) if mesh_frame is None else mesh_frame
    mesh = orbitane.Mesh(apply(np.linalg.inv(frame), points[4:]), FACES)
    mesh.matrix_to_world = frame
    bone.meshes["surface"] = mesh
    c.add(bone)
    return c


def model_points(asc):
    """A collection's shape in layout order, in world coordinates."""
    bone = asc.anatomical_structure("bone")
    mesh = bone.meshes["surface"]
    return np.vstack([[bone.keypoints2[f"k{i}"] for i in range(4)], apply(mesh.matrix_to_world, mesh.vertices)])


def align(source, target, weights):
    """Rigid least-squares alignment of source onto target over the weighted points."""
    w = np.asarray(weights, float)[:, None]
    cs, ct = (w * source).sum(0) / w.sum(), (w * target).sum(0) / w.sum()
    u, _, vt = np.linalg.svd(((source - cs) * w).T @ (target - ct))
    d = np.diag([1, 1, np.sign(np.linalg.det(vt.T @ u.T))])
    r = vt.T @ d @ u.T
    return (source - cs) @ r.T + ct


@pytest.fixture
def training(tmp_path):
    for i, c in enumerate(COEFFICIENTS):
        motion = rigid(i)
        orbitane.save(collection(apply(motion, shape_points(c)), mesh_frame=rigid(100 + i)), tmp_path / f"s{i}.orb")
    return tmp_path


@pytest.fixture
def mean_shape():
    return collection(shape_points((0, 0, 0)))


def generator(mean, directory, update=False):
    g = Model(mean)
    g.p_inputDirectory = str(directory)
    g.p_updateMeanShape = update
    return g


def model_parts(model):
    carrier = model.anatomical_structure("Orbitane.ShapeModel")
    clouds = carrier.pointclouds
    attributes = clouds.attributes["Orbitane.ShapeModel.Mean"]
    count = attributes["numModes"]
    modes = np.array([clouds[f"Orbitane.ShapeModel.Mode{i}"].points.ravel() for i in range(count)]).T
    variances = [clouds.attributes[f"Orbitane.ShapeModel.Mode{i}"]["variance"] for i in range(count)]
    return clouds["Orbitane.ShapeModel.Mean"].points.ravel(), modes, variances, attributes["numShapes"]


class TestPythonSurface:
    def test_class_constructor_and_call(self):
        assert Model.__bases__ == (orbitane.Algorithm,)
        assert Model.__doc__ is None
        assert Model.__init__.__doc__ == (
            "__init__(self: orbitane.anatomy.GenerateLinearShapeModel, mean_shape: "
            "orbitane.anatomy.AnatomicalStructureCollection) -> None\n\n" + CONSTRUCTOR_DOC + "\n")
        assert Model.__call__.__doc__ == (
            "__call__(self: orbitane.anatomy.GenerateLinearShapeModel) -> "
            "dict[str, orbitane.anatomy.AnatomicalStructureCollection]\n\n"
            "Compute and return the mean shape (if configured to be updated) and the linear shape model\n")

    def test_constructor_arguments(self, mean_shape):
        assert isinstance(Model(mean_shape), Model)
        assert isinstance(Model(mean_shape=mean_shape), Model)
        assert isinstance(Model(None), Model)
        for wrong in ((), (anatomy.GenericAnatomicalStructure("bone"),), ("mean",), (mean_shape, mean_shape)):
            with pytest.raises(TypeError) as error:
                Model(*wrong)
            assert str(error.value).startswith("__init__(): incompatible constructor arguments.")
        with pytest.raises(TypeError):
            Model(mean=mean_shape)

    def test_parameters(self, mean_shape):
        g = Model(mean_shape)
        assert g.p_inputDirectory == ""
        assert g.p_updateMeanShape is False
        assert {"inputDirectory", "updateMeanShape"} <= set(g.parameter_names())

    def test_without_mean_shape_the_call_fails(self, training):
        g = generator(None, training)
        with pytest.raises(RuntimeError) as error:
            g()
        assert str(error.value) == FAILED
        g.compute()
        assert g.status != 0

    def test_mean_shape_lives_as_long_as_the_generator(self, training):
        mean = collection(shape_points((0, 0, 0)))
        watch = weakref.ref(mean)
        g = generator(mean, training)
        del mean
        gc.collect()
        assert watch() is not None
        assert "shape_model" in g()
        del g
        gc.collect()
        assert watch() is None
        g = generator(collection(shape_points((0, 0, 0))), training)
        gc.collect()
        assert list(g()) == ["shape_model"]


class TestModel:
    def test_training_shapes_are_reconstructed(self, training, mean_shape):
        g = generator(mean_shape, training)
        progress = []
        g.progress.connect(progress.append)
        result = g()
        assert list(result) == ["shape_model"]
        model = result["shape_model"]
        assert isinstance(model, anatomy.GenericASC)
        assert model.anatomical_structure_identifiers() == ["bone", "Orbitane.ShapeModel"]
        mean, modes, variances, shapes = model_parts(model)
        assert shapes == len(COEFFICIENTS)
        assert modes.shape == (30, 3)
        np.testing.assert_allclose(modes.T @ modes, np.eye(3), atol=1e-9)
        assert variances == sorted(variances, reverse=True) and variances[-1] > 0
        weights = [1] * 4 + [0] * 6
        for i, c in enumerate(COEFFICIENTS):
            trained = apply(rigid(i), shape_points(c))
            aligned = align(trained, shape_points((0, 0, 0)), weights).ravel()
            coefficients = modes.T @ (aligned - mean)
            np.testing.assert_allclose(mean + modes @ coefficients, aligned, atol=1e-6)
        # the structures show the model mean
        np.testing.assert_allclose(model_points(model).ravel(), mean, atol=1e-9)
        assert progress == sorted(progress) and progress[-1] == 1.0

    def test_updated_mean_comes_first(self, training):
        start = collection(apply(rigid(55), shape_points((2, -1, 1))))
        result = generator(start, training, update=True)()
        assert list(result) == ["mean", "shape_model"]
        updated = result["mean"]
        assert isinstance(updated, anatomy.GenericASC)
        average = shape_points(np.mean(COEFFICIENTS, axis=0))
        points = model_points(updated)
        np.testing.assert_allclose(align(points, average, [1] * 10), average, atol=1e-6)
        # the mean shape given is not changed
        np.testing.assert_allclose(model_points(start), apply(rigid(55), shape_points((2, -1, 1))), atol=1e-12)
        assert model_parts(result["shape_model"])[1].shape[1] == 3

    def test_every_call_computes_anew(self, training, mean_shape):
        g = generator(mean_shape, training)
        first, second = g()["shape_model"], g()["shape_model"]
        assert first is not second
        np.testing.assert_allclose(model_parts(first)[0], model_parts(second)[0])

    def test_model_saves_and_loads(self, training, mean_shape, tmp_path_factory):
        model = generator(mean_shape, training)()["shape_model"]
        path = tmp_path_factory.mktemp("saved") / "model.orb"
        orbitane.save(model, path)
        loaded = orbitane.open(path)
        assert isinstance(loaded, anatomy.GenericASC)
        for a, b in zip(model_parts(model), model_parts(loaded)):
            np.testing.assert_array_equal(a, b)


class TestInputFiles:
    def test_unusable_files_are_skipped_with_a_warning(self, training, mean_shape, caplog):
        no_keypoint = collection(shape_points((0, 0, 0)))
        del no_keypoint.anatomical_structure("bone").keypoints2["k2"]
        orbitane.save(no_keypoint, training / "a.orb")
        (training / "b.orb").write_bytes(b"\x00" * 64)
        other = collection(shape_points((0, 0, 0)))
        other.anatomical_structure("bone").meshes["surface"] = orbitane.Mesh(np.eye(3), [[0, 1, 2]])
        orbitane.save(other, training / "c.orb")
        (training / "deeper").mkdir()
        orbitane.save(collection(shape_points((9, 9, 9))), training / "deeper" / "d.orb")
        orbitane.save(collection(shape_points((9, 9, 9))), training / "e.orb")
        (training / "e.orb").rename(training / "e.orb.old")
        caplog.set_level(logging.WARNING, logger=LOGGER)

        model = generator(mean_shape, training)()["shape_model"]
        assert model_parts(model)[3] == len(COEFFICIENTS)
        warnings = [r for r in caplog.records if r.name == LOGGER]
        assert [r.levelno for r in warnings] == [logging.WARNING] * 3
        assert warnings[0].getMessage() == (f"Skipping '{training / 'a.orb'}': it lacks the keypoint 'k2' of "
                                            "structure 'bone'")
        assert warnings[1].getMessage().startswith(f"Skipping '{training / 'b.orb'}': ")
        assert warnings[2].getMessage() == (f"Skipping '{training / 'c.orb'}': it lacks the mesh 'surface' of "
                                            "structure 'bone' with 6 vertices")

    def test_warnings_quoting_bytes_that_are_not_utf8_reach_logging(self, training, mean_shape, caplog):
        with open(os.fsencode(training) + b"/bad\xff.orb", "wb") as damaged:
            damaged.write(b"\x00" * 64)
        caplog.set_level(logging.WARNING, logger=LOGGER)
        generator(mean_shape, training)()
        [warning] = [r for r in caplog.records if r.name == LOGGER]
        assert warning.getMessage().startswith(f"Skipping '{training}/bad\ufffd.orb': ")

    def test_a_symlink_loop_is_skipped_with_a_warning(self, training, mean_shape, caplog):
        (training / "loop.orb").symlink_to(training / "loop.orb")
        caplog.set_level(logging.WARNING, logger=LOGGER)
        model = generator(mean_shape, training)()["shape_model"]
        assert model_parts(model)[3] == len(COEFFICIENTS)
        [warning] = [r for r in caplog.records if r.name == LOGGER]
        assert warning.getMessage().startswith(f"Skipping '{training / 'loop.orb'}': ")

    def test_a_mean_shape_changed_while_reading_fails_with_its_cause(self, training, mean_shape, caplog):
        def remove_keypoint(fraction):
            if fraction < 0.4 and "k0" in mean_shape.anatomical_structure("bone").keypoints2:
                del mean_shape.anatomical_structure("bone").keypoints2["k0"]

        g = generator(mean_shape, training)
        g.progress.connect(remove_keypoint)
        g.compute()
        assert g.status != 0
        errors = [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelno == logging.ERROR]
        assert errors == ["Shape model failed: the mean shape changed while the shapes were read: it lacks the "
                          "keypoint 'k0' of structure 'bone'"]

    def test_fewer_than_two_usable_shapes(self, tmp_path, mean_shape, caplog):
        g = generator(mean_shape, tmp_path)
        for count in (0, 1):
            if count:
                orbitane.save(collection(shape_points((1, 1, 1))), tmp_path / "only.orb")
            with pytest.raises(RuntimeError) as error:
                g()
            assert str(error.value) == FAILED
        errors = [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelno == logging.ERROR]
        assert errors == [f"Shape model failed: fewer than two usable shapes in '{tmp_path}'"] * 2
        g.p_inputDirectory = str(tmp_path / "missing")
        with pytest.raises(RuntimeError) as error:
            g()
        assert str(error.value) == FAILED
        # the object stays usable
        orbitane.save(collection(shape_points((0, 1, 1))), tmp_path / "second.orb")
        g.p_inputDirectory = str(tmp_path)
        assert list(g()) == ["shape_model"]
